// Removing rows by id, for what the self test made and must take away again: a chat, an
// upload with its files to send, a download with its files to receive, a device. Each
// removal is one transaction and touches only rows of the given sender, so an id that
// another sender holds is left alone. Nothing is told to the interface.
#pragma once

#include <string>

namespace vandrel {

void db_delete_chat(std::string id, std::string sender);
// The uploads row and its files to send.
void db_delete_upload(std::string upload_id, std::string sender);
// The downloads row and its files to receive.
void db_delete_download(std::string download_id, std::string sender);
void db_delete_device(std::string id);

}  // namespace vandrel
