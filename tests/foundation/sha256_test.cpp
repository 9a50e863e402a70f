#include "core_lib/foundation/sha256.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace vandrel {
namespace {

std::string reference_hex(const std::string& text) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EXPECT_EQ(EVP_Digest(text.data(), text.size(), md, &length, EVP_sha256(), nullptr), 1);
    static constexpr char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < length; ++i) {
        out.push_back(hex[md[i] >> 4]);
        out.push_back(hex[md[i] & 0xF]);
    }
    return out;
}

// Bytes of every value, zero and >= 0x80 included.
std::string pattern_text(std::size_t length, unsigned seed = 0) {
    std::string text(length, '\0');
    for (std::size_t i = 0; i < length; ++i) text[i] = static_cast<char>((i * 131 + std::size_t{seed} * 7 + 3) & 0xFF);
    return text;
}

TEST(Sha256, PublishedVectors) {
    EXPECT_EQ(sha256_hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sha256_hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(sha256_hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

TEST(Sha256, MatchesReferenceAroundBlockBoundaries) {
    for (std::size_t length : {0u, 1u, 55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 127u, 128u, 129u}) {
        const std::string text = pattern_text(length);
        EXPECT_EQ(sha256_hex(text), reference_hex(text)) << length << " bytes";
        const std::string letters(length, 'a');
        EXPECT_EQ(sha256_hex(letters), reference_hex(letters)) << length << " x 'a'";
    }
}

TEST(Sha256, SeveralMegabytes) {
    const std::string text = pattern_text(5 * 1024 * 1024 + 17);
    EXPECT_EQ(sha256_hex(text), reference_hex(text));
}

TEST(Sha256, HashesEmbeddedZeroAndHighBytes) {
    const std::string with_zero("a\0b", 3);
    EXPECT_EQ(sha256_hex(with_zero), reference_hex(with_zero));
    EXPECT_NE(sha256_hex(with_zero), sha256_hex("a"));
    const std::string high = "\x80\xFF\xC3\xA4";
    EXPECT_EQ(sha256_hex(high), reference_hex(high));
    const std::string zeros(64, '\0');
    EXPECT_EQ(sha256_hex(zeros), reference_hex(zeros));
}

TEST(Sha256, ChunkedUpdatesMatchOneUpdate) {
    const std::string text = pattern_text(1000, 5);
    for (std::size_t chunk : {1u, 7u, 63u, 64u, 65u, 200u}) {
        sha256_context ctx;
        sha256_init(ctx);
        for (std::size_t at = 0; at < text.size(); at += chunk) {
            sha256_update(ctx, text.data() + at, std::min(chunk, text.size() - at));
        }
        sha256_update(ctx, nullptr, 0);
        const sha256_digest digest = sha256_final(ctx);
        unsigned char md[32];
        unsigned int length = 0;
        EVP_Digest(text.data(), text.size(), md, &length, EVP_sha256(), nullptr);
        ASSERT_EQ(length, 32u);
        EXPECT_TRUE(std::equal(digest.begin(), digest.end(), md)) << "chunks of " << chunk;
    }
}

TEST(Sha256, ManyThreadsAtOnce) {
    constexpr int thread_count = 8;
    constexpr int rounds = 200;
    std::vector<std::string> expected;
    for (int t = 0; t < thread_count; ++t) expected.push_back(reference_hex(pattern_text(100 + t * 37, t)));
    std::vector<int> mismatches(thread_count, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < thread_count; ++t) {
        threads.emplace_back([t, &expected, &mismatches] {
            const std::string text = pattern_text(100 + t * 37, t);
            for (int i = 0; i < rounds; ++i) {
                if (sha256_hex(text) != expected[t]) ++mismatches[t];
            }
        });
    }
    for (auto& thread : threads) thread.join();
    for (int t = 0; t < thread_count; ++t) EXPECT_EQ(mismatches[t], 0) << "thread " << t;
}

}  // namespace
}  // namespace vandrel
