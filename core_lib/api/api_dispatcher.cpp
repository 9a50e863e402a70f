#include "core_lib/api/api_dispatcher.h"

#include <exception>
#include <iostream>

#include "core_lib/foundation/peer_limits.h"

#include "core_lib/api/api_origin.h"
#include "core_lib/api/api_reply.h"
#include "core_lib/api/chat_history_handlers.h"
#include "core_lib/api/chat_pipeline.h"
#include "core_lib/api/device_info_handler.h"
#include "core_lib/api/device_query_handlers.h"
#include "core_lib/api/device_state_handlers.h"
#include "core_lib/api/hotspot_handlers.h"
#include "core_lib/api/notification_handlers.h"
#include "core_lib/api/open_handlers.h"
#include "core_lib/api/peer_identity_handlers.h"
#include "core_lib/api/presentation_handlers.h"
#include "core_lib/api/progress_handlers.h"
#include "core_lib/api/self_test_handler.h"
#include "core_lib/api/settings_handlers.h"
#include "core_lib/api/shared_files_handlers.h"
#include "core_lib/api/startup_toggle_handlers.h"
#include "core_lib/api/transfer_control_handlers.h"
#include "core_lib/api/transfer_creation_handlers.h"
#include "core_lib/api/upload_control_handlers.h"

namespace vandrel {

namespace {

constexpr bool peers = true;
constexpr bool local_only = false;

}  // namespace

const std::vector<api_endpoint>& api_endpoint_table() {
    static const std::vector<api_endpoint> table = {
        {"/hello_world", reply_success_handler, peers},
        {"/get_device_info", handle_get_device_info, local_only},
        {"/ping", handle_ping, peers},
        {"/os", handle_os, peers},
        {"/who_am_i", handle_who_am_i, peers},
        {"/shared_files", handle_shared_files, local_only},
        {"/remove_shared_file", handle_remove_shared_file, local_only},
        {"/add_shared_files", handle_add_shared_files, local_only},
        {"/local_ips", handle_local_ips, local_only},
        {"/create_device", handle_create_device, local_only},
        {"/create_chat", handle_create_chat, peers},
        {"/erase_chats_for_peer", handle_erase_chats_for_peer, local_only},
        {"/turn_on_accessibility", handle_turn_on_accessibility, local_only},
        {"/get_chats_for_peer", handle_get_chats_for_peer, local_only},
        {"/get_new_downloads", handle_get_new_downloads, local_only},
        {"/new_settings", handle_new_settings, local_only},
        {"/create_upload", handle_create_upload, local_only},
        {"/create_download", handle_create_download, local_only},
        {"/show_file_picker", reply_success_handler, local_only},
        {"/clear_pending_files", handle_clear_pending_files, local_only},
        {"/upload_pending_files", handle_upload_pending_files, local_only},
        {"/download_file", handle_download_file, local_only},
        {"/show_downloaded_file", handle_show_downloaded_file, local_only},
        {"/show_uploaded_file", handle_show_uploaded_file, local_only},
        {"/open_downloaded_file", handle_open_downloaded_file, local_only},
        {"/download_files", handle_download_files, local_only},
        {"/bytes_transferred", handle_bytes_transferred, local_only},
        {"/clear_unread", handle_clear_unread, local_only},
        {"/change_send_notifications", handle_change_send_notifications, local_only},
        {"/get_recently_changed_devices", handle_get_recently_changed_devices, local_only},
        {"/get_pending_files", handle_get_pending_files, local_only},
        {"/start_hotspot", handle_start_hotspot, local_only},
        {"/stop_hotspot", handle_stop_hotspot, local_only},
        {"/scan_wifi", reply_success_handler, local_only},
        {"/resend", handle_resend, local_only},
        {"/join_mesk_network", reply_success_handler, local_only},
        {"/get_hotspot_password", handle_get_hotspot_password, local_only},
        {"/open_folder", handle_open_folder, local_only},
        {"/open_file", handle_open_file, local_only},
        {"/info_file", handle_info_file, local_only},
        {"/completed_downloads", handle_completed_downloads, peers},
        {"/pending_files_updated", handle_pending_files_updated, local_only},
        {"/pending_folders_updated", handle_pending_folders_updated, local_only},
        {"/open_folder_for_chat", handle_open_folder_for_chat, local_only},
        {"/wake_up", handle_wake_up, local_only},
        {"/copy_to_clipboard", handle_copy_to_clipboard, local_only},
        {"/add_notification", handle_add_notification, local_only},
        {"/mirror_notification", handle_mirror_notification, peers},
        {"/toggle_run_on_startup", handle_toggle_run_on_startup, local_only},
        {"/toggle_run_wifi_direct_on_startup", handle_toggle_run_wifi_direct_on_startup, local_only},
        {"/toggle_run_web_share_on_startup", handle_toggle_run_web_share_on_startup, local_only},
        {"/toggle_run_web_mode", handle_toggle_run_web_mode, local_only},
        {"/stop_download", handle_stop_download, local_only},
        {"/stop_upload", handle_stop_upload, local_only},
        {"/pause_file_upload", handle_pause_file_upload, local_only},
        {"/resume_file_upload", handle_resume_file_upload, local_only},
        {"/pause_upload", handle_pause_upload, local_only},
        {"/resume_upload", handle_resume_upload, local_only},
        {"/get_avatar", handle_get_avatar, peers},
        {"/chat_info", handle_chat_info, local_only},
        {"/reset_downloads_folder", handle_reset_downloads_folder, local_only},
        {"/accepted_folders", handle_accepted_folders, local_only},
        {"/add_accepted_folder", handle_add_accepted_folder, local_only},
        {"/run_tests", handle_run_tests, local_only},
    };
    return table;
}

std::string handle_api_request(std::string endpoint, std::string body, std::string origin) {
    try {
        const api_endpoint* found = nullptr;
        for (const api_endpoint& entry : api_endpoint_table()) {
            if (endpoint == entry.name) {
                found = &entry;
                break;
            }
        }
        if (!found) return reply_unknown_endpoint(endpoint);
        if (!found->served_to_peers && !is_local_origin(origin)) return reply_error_code(error_forbidden);

        // A peer's body is parsed only up to a bound of values: past it, the handler
        // gets null, as for any body that does not parse.
        std::string parse_error;
        Json params = is_local_origin(origin) ? Json::parse(body, parse_error)
                                              : Json::parse(body, parse_error, limits::json_values_per_request);
        return found->handler(std::move(params), std::move(origin));
    } catch (const std::exception& e) {
        std::cerr << "request " << endpoint << " failed: " << e.what() << "\n";
    } catch (...) {
        std::cerr << "request " << endpoint << " failed: unknown error\n";
    }
    return reply_error_code(error_internal);
}

}  // namespace vandrel
