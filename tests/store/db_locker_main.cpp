// Another program that holds a database: takes an exclusive lock on the SQLite file
// named by its argument, prints "locked" once it holds it, and lets go at the end of
// its standard input.
#include <sqlite3.h>

#include <cstdio>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: mesk_db_locker DATABASE\n";
        return 2;
    }
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(argv[1], &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        std::cerr << "cannot open " << argv[1] << ": " << sqlite3_errmsg(db) << "\n";
        return 1;
    }
    char* error = nullptr;
    if (sqlite3_exec(db, "PRAGMA locking_mode = EXCLUSIVE; BEGIN EXCLUSIVE; SELECT count(*) FROM sqlite_master;",
                     nullptr, nullptr, &error) != SQLITE_OK) {
        std::cerr << "cannot lock " << argv[1] << ": " << (error ? error : "") << "\n";
        return 1;
    }
    std::cout << "locked" << std::endl;
    for (std::string line; std::getline(std::cin, line);) {}
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return 0;
}
