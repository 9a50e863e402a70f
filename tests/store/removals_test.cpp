#include "core_lib/store/removals.h"

#include <gtest/gtest.h>

#include "tests/support/temp_store.h"

namespace vandrel {
namespace {

using Removals = testing::StoreTest;

// Each removal takes the rows of its id and sender, and leaves those of another sender
// under the same id.
TEST_F(Removals, TakeOnlyTheRowsOfTheirIdAndSender) {
    store.exec("insert into chats (id, sender) values ('c1', 'me'), ('c2', 'peer')");
    store.exec("insert into uploads (id, sender) values ('u1', 'me'), ('u2', 'peer')");
    store.exec("insert into files_to_send (id, upload_id) values ('f1', 'u1'), ('f2', 'u1'), ('f3', 'u2')");
    store.exec("insert into downloads (id, sender) values ('d1', 'me'), ('d2', 'peer')");
    store.exec(
        "insert into files_to_receive (id, download_id, sender) values ('g1', 'd1', 'me'), ('g2', 'd1', 'peer'), "
        "('g3', 'd2', 'peer')");
    store.exec("insert into devices (id) values ('fake_device'), ('peer')");

    db_delete_chat("c1", "me");
    db_delete_chat("c2", "me");
    db_delete_upload("u1", "me");
    db_delete_upload("u2", "me");
    db_delete_download("d1", "me");
    db_delete_download("d2", "me");
    db_delete_device("fake_device");

    EXPECT_EQ(store.text("select group_concat(id) from chats"), "c2");
    EXPECT_EQ(store.text("select group_concat(id) from uploads"), "u2");
    EXPECT_EQ(store.text("select group_concat(id) from files_to_send"), "f3");
    EXPECT_EQ(store.text("select group_concat(id) from downloads"), "d2");
    EXPECT_EQ(store.text("select group_concat(id) from (select id from files_to_receive order by id)"), "g2,g3");
    EXPECT_EQ(store.text("select group_concat(id) from devices"), "peer");
}

}  // namespace
}  // namespace vandrel
