#include "core_lib/store/announce_text.h"

#include "core_lib/foundation/announce_datagram.h"
#include "core_lib/foundation/text_utils.h"
#include "core_lib/platform/platform_services.h"
#include "core_lib/store/settings.h"

namespace vandrel {

std::string make_datagram() {
    const std::string id = get_userid();
    const std::string sys_info = erase_all(get_device_model(), "|");
    const std::string alias = erase_all(get_alias(), "|");
    return format_datagram(id, sys_info, alias);
}

}  // namespace vandrel
