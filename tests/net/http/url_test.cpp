#include "core_lib/net/http/url.h"

#include <gtest/gtest.h>

namespace vandrel {
namespace {

struct url_case {
    std::string url;
    bool ok;
    std::string scheme, host;
    std::uint16_t port;
    std::string target;
    bool host_is_ip;
    std::string host_header;
};

TEST(ParseUrl, ReadsHostsPortsAndTargets) {
    const url_case cases[] = {
        {"https://1.2.3.4:45001/api/v1/ping", true, "https", "1.2.3.4", 45001, "/api/v1/ping", true, "1.2.3.4:45001"},
        {"https://[fe80::1]:45001/api/v1/ping", true, "https", "fe80::1", 45001, "/api/v1/ping", true,
         "[fe80::1]:45001"},
        {"https://[FE80::1%eth0]:45001/x", true, "https", "fe80::1", 45001, "/x", true, "[fe80::1]:45001"},
        {"https://[::1]/", true, "https", "::1", 443, "/", true, "[::1]"},
        {"https://Cloud.Example.org/api/v1/events", true, "https", "cloud.example.org", 443, "/api/v1/events", false,
         "cloud.example.org"},
        {"HTTPS://host-1.lan:8443", true, "https", "host-1.lan", 8443, "/", false, "host-1.lan:8443"},
        {"http://127.0.0.1:45002/thumbnail/v1/upload/abc?x=1", true, "http", "127.0.0.1", 45002,
         "/thumbnail/v1/upload/abc?x=1", true, "127.0.0.1:45002"},
        {"https://10.0.0.5?q=1", true, "https", "10.0.0.5", 443, "/?q=1", true, "10.0.0.5"},
        {"http://localhost:80/", true, "http", "localhost", 80, "/", false, "localhost"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        auto url = parse_url(c.url);
        ASSERT_TRUE(url.has_value());
        EXPECT_EQ(url->scheme, c.scheme);
        EXPECT_EQ(url->host, c.host);
        EXPECT_EQ(url->port, c.port);
        EXPECT_EQ(url->target, c.target);
        EXPECT_EQ(url->host_is_ip, c.host_is_ip);
        EXPECT_EQ(host_header(*url), c.host_header);
    }
}

TEST(ParseUrl, RefusesWhatIsNotAUsableUrl) {
    const std::string bad[] = {
        "",
        "1.2.3.4:45001/api",           // no scheme
        "ftp://1.2.3.4/",              // other scheme
        "https://:45001/api/v1/ping",  // empty host (a peer with no address)
        "https:///api",                //
        "https://1.2.3.4:0/",          // port out of range
        "https://1.2.3.4:65536/",      //
        "https://1.2.3.4:45x01/",      //
        "https://1.2.3.4:/",           //
        "https://fe80::1:45001/",      // IPv6 without brackets
        "https://[fe80::1/",           // unclosed bracket
        "https://[zz::1]:1/",          // not an IPv6 literal
        "https://[::1]x/",             // junk after the bracket
        "https://1.2.3/",              // short IPv4
        "https://1.2.3.256/",          //
        "https://user@1.2.3.4/",       // user info
        "https://from_ui:45001/api",   // not a host name
        "https://a b/",                //
        "https://1.2.3.4/a b",         // space in the target
        "https://1.2.3.4/a\r\nX: y",   // header injection
        "https://1.2.3.4/#frag",       //
        "https://host..name/",         //
    };
    for (const auto& url : bad) {
        SCOPED_TRACE(url);
        EXPECT_FALSE(parse_url(url).has_value());
    }
}

}  // namespace
}  // namespace vandrel
