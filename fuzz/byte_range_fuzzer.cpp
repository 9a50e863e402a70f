// The web share's "Range" header against a file of any size: the first eight bytes are
// the size (little-endian), the rest the header. A satisfiable range lies inside the
// file (first <= last < size; a file of no bytes gives 0-0, which the server answers
// whole), so the length the server announces (last - first + 1) never overflows and the
// answer never reads past the end; an unsatisfiable one is only ever a start at or past
// the end or a suffix of nothing.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "core_lib/net/web_share/web_share_server.h"
#include "fuzz/support/fuzz_check.h"

using vandrel::byte_range;
using vandrel::fuzzing::property_broken;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::uint64_t file_size = 0;
    const std::size_t taken = size < sizeof file_size ? size : sizeof file_size;
    for (std::size_t i = 0; i < taken; ++i) file_size |= std::uint64_t{data[i]} << (8 * i);
    const std::string header(reinterpret_cast<const char*>(data + taken), size - taken);

    const byte_range range = vandrel::parse_byte_range(header, file_size);
    if (range.result == byte_range::kind::satisfiable) {
        if (file_size == 0 && (range.first != 0 || range.last != 0)) property_broken("a range in an empty file");
        if (file_size > 0 && !(range.first <= range.last && range.last < file_size)) {
            property_broken("range " + std::to_string(range.first) + "-" + std::to_string(range.last) +
                            " of a file of " + std::to_string(file_size) + " bytes");
        }
    } else if (range.first != 0 || range.last != 0) {
        property_broken("an unsatisfiable range with bounds");
    }
    // The same header gives the same range.
    const byte_range again = vandrel::parse_byte_range(header, file_size);
    if (again.result != range.result || again.first != range.first || again.last != range.last) {
        property_broken("the range depends on more than the header and the size");
    }
    return 0;
}
