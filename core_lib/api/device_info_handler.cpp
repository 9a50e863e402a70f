#include "core_lib/api/device_info_handler.h"

#include "core_lib/api/hotspot_control.h"
#include "core_lib/platform/platform_services.h"
#include "core_lib/store/settings.h"

namespace vandrel {

std::string handle_get_device_info(Json, std::string) {
    // Each getter once, in this order: their first calls store what they make.
    Json::object info;
    info["status"] = "success";
    info["ssid"] = get_wifi_ssid();
    info["id"] = get_userid();
    info["alias"] = get_alias();
    info["sys_info"] = get_device_model();
    info["os"] = platform_name();
    info["app_version"] = app_version();
    info["has_hotspot_feature"] = cached_hotspot_feature();
    info["hotspot_is_running"] = is_hotspot_started();
    info["hotspot_ssid"] = get_hotspot_ssid();
    info["hotspot_password"] = get_hotspot_passphrase();
    info["run_on_startup"] = get_run_on_startup();
    info["run_web_share_on_startup"] = get_run_web_share_on_startup();
    info["run_wifi_direct_on_startup"] = get_run_wifi_direct_on_startup();
    info["run_web_mode"] = is_web_mode_running();
    info["avatar"] = get_avatar();
    info["webshare_port"] = "3456";
    info["webshare_password"] = get_webshare_password();
    info["folders"] = Json(get_accepted_folders());
    info["downloads_folder"] = get_downloads_folder();
    return Json(std::move(info)).dump();
}

}  // namespace vandrel
