// Switch message bytes as they arrive from the network: header, element walk
// with fixed-size value reads, shared value forms, trace name and hex trace.
#include <cstdint>
#include <cstdlib>

#include "switch/switch_comm_util.hpp"
#include "wire/wire.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size >= 4) {
        map_switch_elem_hdr hdr{};
        map_switch_comm_util_extract_element(data, &hdr);
        wire_reader r = wire_reader_make(data + 4, size - 4);
        wire_elem e;
        unsigned walked = 0;
        while (wire_elem_next(r, e)) {
            uint8_t ip[MAP_IP_ELEM_LEN];
            if (wire_elem_fixed(e, ip, sizeof ip)) {
                uint8_t family;
                uint32_t addr, mask;
                map_ip_elem_decode(ip, &family, &addr, &mask);
            }
            uint8_t sw[MAP_SWITCH_ADDR_LEN];
            if (wire_elem_fixed(e, sw, sizeof sw)) {
                map_switch_addr a;
                map_switch_addr_decode(sw, a);
                (void)map_switch_addr_ipv4(a);
            }
            if (e.value.size() >= 4) (void)map_extract_integer(e.value.data());
            if (++walked > size) abort();  // the walk must always make progress
        }
    }
    char* name = pkt_type_to_string(data, static_cast<int>(size));
    free(name);
    // The hex trace into buffers of every size, the first byte choosing one.
    static char text[30720];
    size_t cap = size ? (size_t{data[0]} * 121) % sizeof text + 1 : sizeof text;
    size_t n = map_pkt_hex_format(text, cap, data, static_cast<int>(size), data ? 1 : 0, 2);
    if (n >= cap) abort();
    return 0;
}
