#include "core_lib/foundation/alias_words.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>

namespace vandrel {
namespace {

TEST(AliasWords, TablesHaveTheirSizesAndEnds) {
    const auto adjectives = alias_adjectives();
    const auto animals = alias_animals();
    ASSERT_EQ(adjectives.size(), 253u);
    ASSERT_EQ(animals.size(), 145u);
    EXPECT_EQ(adjectives.front(), "Active");
    EXPECT_EQ(adjectives.back(), "Zealous");
    EXPECT_EQ(animals.front(), "Aadvark");
    EXPECT_EQ(animals.back(), "Zebra");
    // The doubled adjectives sit at places 16 and 18, 131 and 154 (counting from 1).
    EXPECT_EQ(adjectives[15], "Brave");
    EXPECT_EQ(adjectives[16], "Brown");
    EXPECT_EQ(adjectives[17], "Brave");
    EXPECT_EQ(adjectives[130], "Pleasant");
    EXPECT_EQ(adjectives[153], "Pleasant");
    EXPECT_EQ(std::set<std::string_view>(adjectives.begin(), adjectives.end()).size(), 251u);
    EXPECT_EQ(std::set<std::string_view>(animals.begin(), animals.end()).size(), 145u);
    for (auto word : adjectives) EXPECT_TRUE(!word.empty() && word[0] >= 'A' && word[0] <= 'Z') << word;
    for (auto word : animals) EXPECT_TRUE(!word.empty() && word[0] >= 'A' && word[0] <= 'Z') << word;
    // Spellings kept as the app has always shown them.
    for (std::string_view word : {"LLama", "Bufalo", "Chimpazee", "Mice"}) {
        EXPECT_NE(std::find(animals.begin(), animals.end(), word), animals.end()) << word;
    }
}

TEST(RandomAlias, EveryResultIsAdjectiveSpaceAnimalAndEveryWordOccurs) {
    const auto adjectives = alias_adjectives();
    const auto animals = alias_animals();
    const std::set<std::string_view> adjective_set(adjectives.begin(), adjectives.end());
    const std::set<std::string_view> animal_set(animals.begin(), animals.end());
    std::map<std::string, int> adjective_count;
    std::map<std::string, int> animal_count;
    constexpr int draws = 100000;
    for (int i = 0; i < draws; ++i) {
        const std::string alias = random_alias();
        ASSERT_LE(alias.size(), 25u);
        const std::size_t space = alias.find(' ');
        ASSERT_NE(space, std::string::npos) << alias;
        const std::string adjective = alias.substr(0, space);
        const std::string animal = alias.substr(space + 1);
        ASSERT_TRUE(adjective_set.count(adjective)) << alias;
        ASSERT_TRUE(animal_set.count(animal)) << alias;
        ++adjective_count[adjective];
        ++animal_count[animal];
    }
    EXPECT_EQ(adjective_count.size(), 251u);
    EXPECT_EQ(animal_count.size(), 145u);
    // Each single entry comes up about 395 times; the doubled words about 790 times.
    for (const auto& [word, count] : adjective_count) {
        if (word == "Brave" || word == "Pleasant") {
            EXPECT_GT(count, 600) << word;
        } else {
            EXPECT_LT(count, 550) << word;
        }
    }
}

}  // namespace
}  // namespace vandrel
