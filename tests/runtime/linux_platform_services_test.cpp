#include "MeskRuntimeComponent/linux_platform_services.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <filesystem>
#include <mutex>
#include <set>

#include "core_lib/platform/ui_event_channel.h"
#include "tests/runtime/runtime_test_folder.h"

namespace vandrel {
namespace {

namespace fs = std::filesystem;
using testing::TestFolder;

struct StartedProgram {
    std::vector<std::string> argv;
    std::string input;
};

// Helper programs as a test wants them: installed or not, recorded instead of run.
class FakePrograms {
public:
    explicit FakePrograms(std::set<std::string> installed) : installed_(std::move(installed)) {}

    ProgramLauncher launcher() {
        ProgramLauncher launcher;
        launcher.find_program = [this](const std::string& name) {
            return installed_.count(name) ? "/fake/bin/" + name : std::string();
        };
        launcher.start_program = [this](const std::vector<std::string>& argv, const std::string& input) {
            std::lock_guard<std::mutex> lock(mutex_);
            started_.push_back({argv, input});
            return true;
        };
        return launcher;
    }
    std::vector<StartedProgram> started() {
        std::lock_guard<std::mutex> lock(mutex_);
        return started_;
    }

private:
    std::set<std::string> installed_;
    std::mutex mutex_;
    std::vector<StartedProgram> started_;
};

// Collects what reaches the interface while the test runs.
class UiEvents {
public:
    UiEvents() {
        set_ui_sink([this](const std::string& text) {
            std::lock_guard<std::mutex> lock(mutex_);
            texts_.push_back(text);
        });
    }
    ~UiEvents() { set_ui_sink(nullptr); }
    std::vector<std::string> texts() {
        std::lock_guard<std::mutex> lock(mutex_);
        return texts_;
    }

private:
    std::mutex mutex_;
    std::vector<std::string> texts_;
};

// Swaps std::cerr for a buffer; the dispatcher is drained on this thread.
class CerrCapture {
public:
    CerrCapture() : previous_(std::cerr.rdbuf(buffer_.rdbuf())) {}
    ~CerrCapture() { std::cerr.rdbuf(previous_); }
    std::string text() const { return buffer_.str(); }

private:
    std::ostringstream buffer_;
    std::streambuf* previous_;
};

class LinuxPlatformServicesTest : public ::testing::Test {
protected:
    LinuxPlatformConfig config(const std::set<std::string>& installed = {}) {
        programs = std::make_unique<FakePrograms>(installed);
        LinuxPlatformConfig c;
        c.environment = PlatformEnvironment{};
        c.environment.home = home;
        c.system_root = root / "system";
        c.launcher = programs->launcher();
        c.network.interfaces = [] { return std::vector<NetworkInterface>{}; };
        c.network.wireless_links = [] { return std::vector<WirelessLink>{}; };
        return c;
    }
    std::unique_ptr<LinuxPlatformServices> make(LinuxPlatformConfig c) {
        return std::make_unique<LinuxPlatformServices>(ui, std::move(c));
    }

    // The platform links of a core, which the services report through.
    platform_state platform;
    current_platform::binding bound{platform};
    TestFolder root;
    const std::string home = root.make_folder("home");
    std::shared_ptr<Dispatcher> ui = Dispatcher::create();
    std::unique_ptr<FakePrograms> programs;
};

TEST_F(LinuxPlatformServicesTest, FoldersDefaultUnderHome) {
    auto services = make(config());
    EXPECT_EQ(services->get_data_folder_path(), home + "/.local/share/mesk/Data/");
    EXPECT_EQ(services->get_local_folder_path(), home + "/.cache/mesk/tmp/");
    struct stat info {};
    ASSERT_EQ(stat((home + "/.local/share/mesk/Data").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    const auto& folders = services->user_folders();
    EXPECT_EQ(folders.pictures, home + "/Pictures");
    EXPECT_EQ(folders.music, home + "/Music");
    EXPECT_EQ(folders.videos, home + "/Videos");
    EXPECT_EQ(folders.downloads, home + "/Downloads");
    for (const auto& folder : {folders.pictures, folders.music, folders.videos, folders.downloads})
        EXPECT_TRUE(fs::is_directory(folder)) << folder;
}

TEST_F(LinuxPlatformServicesTest, XdgVariablesAndUserDirsAreFollowed) {
    auto c = config();
    c.environment.xdg_data_home = root / "data/";
    c.environment.xdg_cache_home = "relative/cache";  // not absolute: ignored
    c.environment.xdg_config_home = root / "config";
    root.write("config/user-dirs.dirs",
               "# written by the desktop\n"
               "XDG_PICTURES_DIR=\"$HOME/Bilder\"\n"
               "XDG_MUSIC_DIR=\"" +
                   root.path() +
                   "/media/music\"\n"
                   "XDG_VIDEOS_DIR=\"$HOME\"\n"
                   "XDG_DOWNLOAD_DIR=\"$HOME/Down loads\"\n");
    auto services = make(c);
    EXPECT_EQ(services->get_data_folder_path(), root / "data/mesk/Data/");
    EXPECT_EQ(services->get_local_folder_path(), home + "/.cache/mesk/tmp/");
    const auto& folders = services->user_folders();
    EXPECT_EQ(folders.pictures, home + "/Bilder");
    EXPECT_EQ(folders.music, root / "media/music");
    EXPECT_EQ(folders.videos, home + "/Videos");  // the home folder itself switches an entry off
    EXPECT_EQ(folders.downloads, home + "/Down loads");
    EXPECT_TRUE(fs::is_directory(root / "media/music"));
    EXPECT_TRUE(fs::is_directory(home + "/Down loads"));
}

TEST(UserDirEntry, ReadsTheLastValidLineOfTheKey) {
    const std::string home = "/home/ana";
    struct Case {
        std::string text;
        std::string expected;
    };
    const Case cases[] = {
        {"XDG_PICTURES_DIR=\"$HOME/Pictures\"", "/home/ana/Pictures"},
        {"  XDG_PICTURES_DIR=\"/srv/photos/\"", "/srv/photos"},
        {"XDG_PICTURES_DIR=$HOME/Bare", "/home/ana/Bare"},
        {"XDG_PICTURES_DIR=\"$HOME/With \\\"quote\\\"\"", "/home/ana/With \"quote\""},
        {"#XDG_PICTURES_DIR=\"/commented\"", ""},
        {"XDG_PICTURES_DIR=\"relative/path\"", ""},
        {"XDG_PICTURES_DIR=\"$HOMEWORK/x\"", ""},
        {"XDG_PICTURES_DIR=\"$HOME/\"", ""},
        {"XDG_PICTURES_DIR=\"/unterminated", ""},
        {"XDG_PICTURES_DIRX=\"/other\"", ""},
        {"XDG_PICTURES_DIR=\"/first\"\nXDG_PICTURES_DIR=\"/second\"", "/second"},
        {"XDG_PICTURES_DIR=\"/first\"\r\n", "/first"},
    };
    for (const auto& c : cases) EXPECT_EQ(user_dir_entry(c.text, "XDG_PICTURES_DIR", home), c.expected) << c.text;
}

TEST_F(LinuxPlatformServicesTest, ToastFallsBackToStandardErrorWithoutNotifySend) {
    auto services = make(config({}));
    EXPECT_TRUE(services->show_toast("Download complete", "photo.jpg\nfrom Ana"));
    CerrCapture cerr;
    EXPECT_EQ(cerr.text(), "") << "nothing happens until the interface thread runs the job";
    EXPECT_EQ(ui->drain(), 1u);
    EXPECT_EQ(cerr.text(), "toast: Download complete: photo.jpg from Ana\n");
}

TEST_F(LinuxPlatformServicesTest, ToastGoesToNotifySendWhenInstalled) {
    auto services = make(config({"notify-send"}));
    EXPECT_TRUE(services->show_toast("-title", "text"));
    CerrCapture cerr;
    ui->drain();
    EXPECT_EQ(cerr.text(), "");
    const auto started = programs->started();
    ASSERT_EQ(started.size(), 1u);
    // "--" keeps a title that begins with "-" from being read as an option.
    EXPECT_EQ(started[0].argv, (std::vector<std::string>{"/fake/bin/notify-send", "--", "-title", "text"}));
}

TEST_F(LinuxPlatformServicesTest, ClipboardIsKeptInProcessAndHandedToTheDesktopTool) {
    struct Case {
        std::string wayland_display;
        std::string display;
        std::set<std::string> installed;
        std::vector<std::string> argv;  // empty: no program started
    };
    const Case cases[] = {
        {"wayland-0", ":0", {"wl-copy", "xclip"}, {"/fake/bin/wl-copy"}},
        {"wayland-0", ":0", {"xclip"}, {"/fake/bin/xclip", "-selection", "clipboard"}},
        {"", ":0", {"wl-copy", "xclip"}, {"/fake/bin/xclip", "-selection", "clipboard"}},
        {"", "", {"wl-copy", "xclip"}, {}},
        {"wayland-0", ":0", {}, {}},
    };
    for (const auto& c : cases) {
        auto cfg = config(c.installed);
        cfg.environment.wayland_display = c.wayland_display;
        cfg.environment.display = c.display;
        auto services = make(cfg);
        services->copy_to_clipboard("sharing code 4821");
        EXPECT_EQ(services->clipboard_text(), "");
        ui->drain();
        EXPECT_EQ(services->clipboard_text(), "sharing code 4821");
        const auto started = programs->started();
        if (c.argv.empty()) {
            EXPECT_TRUE(started.empty());
        } else {
            ASSERT_EQ(started.size(), 1u);
            EXPECT_EQ(started[0].argv, c.argv);
            EXPECT_EQ(started[0].input, "sharing code 4821");
        }
    }
}

TEST_F(LinuxPlatformServicesTest, OpenFileAndShowInFolderLaunchOnlyFilesOfGrantedFolders) {
    auto services = make(config({"xdg-open"}));
    const std::string folder = root.make_folder("shared");
    const std::string file = root.write("shared/sub/report.pdf", "%PDF");
    const std::string path = services->storage_path_for_file(folder, file);
    ASSERT_FALSE(path.empty());

    services->open_file(path);
    services->show_in_folder(path);
    services->open_file(path + ".missing");
    services->show_in_folder("not a storage path");
    EXPECT_EQ(ui->pending(), 2u);
    ui->drain();
    const auto started = programs->started();
    ASSERT_EQ(started.size(), 2u);
    EXPECT_EQ(started[0].argv, (std::vector<std::string>{"/fake/bin/xdg-open", file}));
    EXPECT_EQ(started[1].argv, (std::vector<std::string>{"/fake/bin/xdg-open", root / "shared/sub"}));
}

TEST_F(LinuxPlatformServicesTest, AcceptedFoldersAreTheThreeLibrariesThenPickedFolders) {
    std::function<void(const std::string&)> pending_done;
    auto cfg = config();
    cfg.pick_folder = [&](std::function<void(const std::string&)> done) { pending_done = std::move(done); };
    auto services = make(cfg);
    UiEvents events;

    const auto names = [&] {
        std::vector<std::string> out;
        for (const auto& entry : services->get_accepted_folders())
            out.push_back(entry["name"].string_value() + "=" + entry["path"].string_value());
        return out;
    };
    EXPECT_EQ(names(), (std::vector<std::string>{"Pictures=" + home + "/Pictures", "Music=" + home + "/Music",
                                                 "Videos=" + home + "/Videos"}));

    // A cancelled pick adds nothing and says nothing.
    services->pick_accepted_folder();
    EXPECT_FALSE(pending_done);
    ui->drain();
    ASSERT_TRUE(pending_done);
    pending_done("");
    EXPECT_EQ(names().size(), 3u);
    EXPECT_TRUE(events.texts().empty());

    const std::string projects = root.make_folder("Projects");
    services->pick_accepted_folder();
    ui->drain();
    pending_done(projects);
    EXPECT_EQ(names().back(), "Projects=" + projects);
    EXPECT_EQ(events.texts(), (std::vector<std::string>{"{\"action\": \"device_updated\"}"}));

    // Survives a restart; a folder that went away is not listed.
    auto restarted = make(cfg);
    EXPECT_EQ(restarted->get_accepted_folders().size(), 4u);
    fs::remove(projects);
    EXPECT_EQ(restarted->get_accepted_folders().size(), 3u);
}

TEST_F(LinuxPlatformServicesTest, APickWithNoPickerIsACancel) {
    auto services = make(config());
    UiEvents events;
    services->pick_accepted_folder();
    ui->drain();
    EXPECT_EQ(services->get_accepted_folders().size(), 3u);
    EXPECT_TRUE(events.texts().empty());
}

TEST_F(LinuxPlatformServicesTest, ReceivedFilesGoByCategoryAndOthersToTheChosenOrDownloadsFolder) {
    std::string others_token;
    auto cfg = config();
    cfg.others_folder_token = [&] { return others_token; };
    auto services = make(cfg);
    const auto folder_of = [&](const std::string& target) {
        const auto parsed = parse_storage_path(target);
        return parsed ? services->access_list().folder_for(parsed->token).value_or("?") : "no target";
    };
    EXPECT_EQ(folder_of(services->download_target_for_file("a/b/photo.jpg")), home + "/Pictures");
    EXPECT_EQ(folder_of(services->download_target_for_file("report.pdf")), home + "/Downloads");

    const std::string chosen = root.make_folder("chosen");
    others_token = services->access_list().add(chosen);
    const std::string target = services->download_target_for_file("../report.pdf");
    EXPECT_EQ(folder_of(target), chosen);
    EXPECT_EQ(services->resolve_storage_path(target), chosen + "/report.pdf");

    EXPECT_EQ(services->get_file_size(target), 0u);
    root.write("chosen/report.pdf", "12345");
    EXPECT_EQ(services->get_file_size(target), 5u);
    EXPECT_EQ(services->find_file_in_folder(target), chosen + "/report.pdf");
}

TEST_F(LinuxPlatformServicesTest, TheOthersFolderIsAskedForOnlyWhileNoneIsGranted) {
    std::string stored;
    int asked = 0;
    std::string answer;
    auto cfg = config();
    cfg.others_folder_token = [&] { return stored; };
    cfg.set_others_folder_token = [&](const std::string& token) { stored = token; };
    cfg.pick_others_folder = [&](const std::function<void(const std::string&)>& done) {
        ++asked;
        done(answer);
    };
    auto services = make(cfg);
    const std::string chosen = root.make_folder("others");

    services->ensure_others_folder();
    EXPECT_EQ(asked, 0) << "the question waits for the interface thread";
    ui->drain();
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(stored, "") << "a cancel stores nothing";

    answer = chosen;
    services->ensure_others_folder();
    ui->drain();
    EXPECT_EQ(asked, 2);
    ASSERT_NE(stored, "");
    EXPECT_EQ(services->access_list().folder_for(stored).value_or("?"), chosen);

    services->ensure_others_folder();
    ui->drain();
    EXPECT_EQ(asked, 2) << "a granted folder is not asked for again";

    stored = "no-such-token";
    services->ensure_others_folder();
    ui->drain();
    EXPECT_EQ(asked, 3) << "a token the access list lost is asked for again";
    EXPECT_EQ(services->access_list().folder_for(stored).value_or("?"), chosen);
}

TEST_F(LinuxPlatformServicesTest, PackagePathsNameFilesOfThePackageFolderOnly) {
    root.write("package/http_mode/bin/index.html", "<html>");
    root.write("package/http_mode/bin/sub/app.js", "js");
    root.make_folder("package/http_mode/bin/empty");
    root.write("secret.txt", "outside");
    fs::create_symlink(root / "secret.txt", root / "package/http_mode/bin/link.txt");
    auto cfg = config();
    cfg.package_folder = root / "package";
    auto services = make(cfg);
    const std::string bin = fs::canonical(root / "package/http_mode/bin").string();
    EXPECT_EQ(services->get_package_file("ms-appx:///http_mode/bin/index.html"), bin + "/index.html");
    EXPECT_EQ(services->get_package_file("ms-appx:///http_mode/bin/sub/../sub/app.js"), bin + "/sub/app.js");
    for (const std::string& outside :
         {std::string("ms-appx:///http_mode/bin/../../../secret.txt"), std::string("ms-appx:///../secret.txt"),
          std::string("ms-appx:///http_mode/bin/link.txt"), std::string("ms-appx:///http_mode/bin/missing.html"),
          std::string("ms-appx:///http_mode/bin/empty"), std::string("ms-appx:///"),
          std::string("http_mode/bin/index.html"), std::string("ms-appx://http_mode/bin/index.html")}) {
        EXPECT_EQ(services->get_package_file(outside), "") << outside;
    }
}

TEST(PackageFolder, AnInstalledProgramTakesThePackageBesideItElseTheBuiltInOne) {
    TestFolder prefix;
    prefix.make_folder("bin");
    EXPECT_EQ(package_folder_for(prefix / "bin/mesk", "/source/web"), "/source/web");
    prefix.make_folder("share/mesk/http_mode/bin");
    EXPECT_EQ(package_folder_for(prefix / "bin/mesk", "/source/web"), prefix / "share/mesk");
    EXPECT_EQ(package_folder_for("", "/source/web"), "/source/web");
}

TEST_F(LinuxPlatformServicesTest, DeviceAndNetworkInformationComeFromTheInjectedSources) {
    root.write("system/sys/class/dmi/id/product_name", "Latitude 7420\n");
    root.write("system/sys/class/dmi/id/sys_vendor", "Dellar Inc.\n");
    auto cfg = config();
    cfg.network.interfaces = [] {
        return std::vector<NetworkInterface>{make_interface("lo", "127.0.0.1", 8, false, true, true),
                                             make_interface("enp3s0", "192.168.1.37", 24, false),
                                             make_interface("wlp2s0", "10.1.20.5", 20, true)};
    };
    cfg.network.wireless_links = [] {
        return std::vector<WirelessLink>{{"wlp2s0", "Cafe", {0x00, 0x1A, 0xFF, 0x01, 0x02, 0x03}}};
    };
    auto services = make(cfg);
    EXPECT_EQ(services->get_device_model(), "linux/Latitude 7420 - Dellar Inc.");
    EXPECT_EQ(services->get_local_ips(), (std::vector<std::string>{"192.168.1.37", "10.1.20.5"}));
    EXPECT_EQ(services->get_broadcast_addresses(), (std::vector<std::string>{"192.168.1.255", "10.1.31.255"}));
    EXPECT_EQ(services->get_wifi_ssid(), "Cafe");
    EXPECT_EQ(services->get_wifi_bssid(), "001AFF010203");
}

TEST_F(LinuxPlatformServicesTest, PostedJobsMayRunAfterTheServicesAreGone) {
    auto services = make(config({}));
    services->show_toast("late", "toast");
    services->copy_to_clipboard("late text");
    services.reset();
    CerrCapture cerr;
    EXPECT_EQ(ui->drain(), 2u);
    EXPECT_EQ(cerr.text(), "toast: late: toast\n");
}

TEST_F(LinuxPlatformServicesTest, InstalledServicesAnswerTheCoresFreeFunctions) {
    auto services = std::make_shared<LinuxPlatformServices>(ui, config());
    install_platform_services(services);
    EXPECT_EQ(get_data_folder_path(), home + "/.local/share/mesk/Data/");
    const std::string target = download_target_for_file("song.mp3");
    EXPECT_EQ(resolve_storage_path(target), home + "/Music/song.mp3");
    EXPECT_EQ(find_file_in_folder(target), "");
    install_platform_services(nullptr);
}

}  // namespace
}  // namespace vandrel
