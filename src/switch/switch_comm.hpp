// The switch connection record: sockets, TLS, switch addresses, states,
// timers, the discovered-address list, the layer-2 poll queue and the IP
// ports; discovery, the TLS channel, identification, authentication,
// keepalive and relink.
#pragma once

#include <openssl/ssl.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "store/map_ap_provision_params.hpp"
#include "wire/wire.hpp"

struct map_control_block;

// Connection states.
inline constexpr int MAP_SWITCH_COMM_INIT_MODE = 0;
inline constexpr int MAP_SWITCH_COMM_LISTEN_MODE = 1;
inline constexpr int MAP_SWITCH_COMM_SSL_ESTABLISH_MODE = 2;
inline constexpr int MAP_SWITCH_COMM_SWITCH_AUTH_MODE = 3;
inline constexpr int MAP_SWITCH_COMM_ESTABLISHED = 4;

// Discovery reasons.
inline constexpr int MAP_SWITCH_IP_POLL_RECEIVED = 0;
inline constexpr int MAP_SWITCH_AP_INITIATED = 1;
inline constexpr int MAP_SWITCH_STATIC_CONFIG = 2;
inline constexpr int MAP_SWITCH_DHCP_CONFIG = 3;
inline constexpr int MAP_SWITCH_L2_POLL_RECIEVED = 4;

inline constexpr uint16_t MAP_DEFAULT_IP_BASE_PORT = 57775;
inline constexpr uint16_t MAP_IP_BASE_PORT_MIN = 1;
inline constexpr uint16_t MAP_IP_BASE_PORT_MAX = 65000;
inline constexpr int MAP_NUM_SWITCH_ADDR = 4;
inline constexpr size_t MAP_HOST_NAME_SLOT = 257;
inline constexpr size_t MAP_PASS_PHRASE_LEN = 64;
inline constexpr int MAP_L2_QUEUE_SLOTS = 65;
inline constexpr int MAP_DISCOVERED_MAX = 64;
inline constexpr int MAP_SSL_WAIT_SECONDS = 10;
// Messages waiting for the TLS socket to take them: room for this many bytes
// (each message costs two more).  A switch that stops reading fills it, or
// leaves its first message unwritten for MAP_TLS_STALL_SECONDS, and the link
// is dropped like after any failed send.
inline constexpr size_t MAP_TLS_OUTQ_SIZE = 65536;
inline constexpr int MAP_TLS_STALL_SECONDS = 10;

struct ssl_ctx_free_t {
    void operator()(SSL_CTX* c) const { SSL_CTX_free(c); }
};
struct ssl_free_t {
    void operator()(SSL* s) const { SSL_free(s); }
};
using ssl_ctx_ptr = std::unique_ptr<SSL_CTX, ssl_ctx_free_t>;
using ssl_ptr = std::unique_ptr<SSL, ssl_free_t>;

// The AP as it describes itself to the switch.
struct map_ap_params {
    uint8_t device_type;
    uint16_t protocol_version;
    uint32_t ip;
    uint32_t mask;
    uint8_t mac[6];
    uint16_t reserved;
    uint8_t num_radios;
    uint16_t constant_one;
    int32_t hw_type;
    char serial[32];
    char part_number[32];
    char fw_version[32];
    uint8_t discovery_reason;
    uint8_t max_bss;
};

// Ring of IPv4 addresses of received layer-2 polls; holds at most 64.
struct map_l2_queue {
    uint32_t slot[MAP_L2_QUEUE_SLOTS];
    int head;
    int tail;
};

struct map_discovered_entry {
    uint32_t in_use;
    uint32_t ip;
    uint32_t last_used;
};

struct map_discovered_list {
    map_discovered_entry entry[MAP_DISCOVERED_MAX];
    int count;
};

// Whole messages that the TLS socket could not take yet, oldest first, each
// stored as a 2-byte length and its bytes.  The first one is the message
// OpenSSL has begun to write and must be offered again unchanged.
struct map_tls_outq {
    uint8_t buf[MAP_TLS_OUTQ_SIZE];
    size_t head;         // offset of the first message
    size_t tail;         // end of the last message
    uint64_t since_ms;   // monotonic time the first message began to wait
};

struct map_ip_ports {
    uint16_t dhcp_base;
    uint16_t cfg_base;
    uint16_t base;
    uint16_t tnl_udp;
    uint16_t udp;
    uint16_t ssl;
    uint16_t capwap_src;
    uint16_t capwap_dst;
};

struct map_switch_comm {
    ssl_ctx_ptr ssl_ctx;
    ssl_ptr ssl;
    uint32_t static_ip[MAP_NUM_SWITCH_ADDR];
    char static_host[MAP_NUM_SWITCH_ADDR][MAP_HOST_NAME_SLOT];
    uint32_t dhcp_ip[MAP_NUM_SWITCH_ADDR];
    char dhcp_host[MAP_NUM_SWITCH_ADDR][MAP_HOST_NAME_SLOT];
    char pass_phrase[MAP_PASS_PHRASE_LEN];
    uint32_t switch_ip;
    int static_count;
    int dhcp_count;
    int state;
    int discovery_reason;
    map_ap_params ap;
    int tcp_fd;
    int udp_fd;
    int l2_fd;
    int ssl_rfd;
    int mapd_fd;
    int mapqosd_fd;
    map_l2_queue l2_queue;
    int next_addr_index;
    int discovery_countdown;
    int keepalive_countdown;
    int keepalive_interval;
    uint32_t last_keepalive_tick;
    int rfscan_countdown;
    int rfscan_interval;
    map_control_block* cb;
    uint32_t saved_ap_ip;
    uint32_t tunnel_mtu;
    map_discovered_list discovered;
    map_ip_ports ports;
    uint8_t cert_verify;
    map_tls_outq outq;
};

// ---- record and settings -------------------------------------------------------
[[nodiscard]] int map_switch_comm_init(map_switch_comm** out, map_control_block* cb);
int map_switch_comm_deinit(map_switch_comm* rec);
map_switch_comm* get_switch_context();
int map_switch_comm_update_config_ip_address(map_switch_comm* rec, uint32_t ip, int index);
int map_switch_comm_update_config_dns_address(map_switch_comm* rec, const char* name, int index);
int map_switch_comm_update_config_dhcp_ip_address(map_switch_comm* rec, uint32_t ip, int index);
int map_switch_comm_update_config_dhcp_dns_address(map_switch_comm* rec, const char* name,
                                                   int index);
int map_switch_comm_update_config_pass_phrase(map_switch_comm* rec, const char* text);
int map_switch_comm_update_dhcp_ip_base_port(uint16_t port);
int map_switch_comm_update_cfg_ip_base_port(uint16_t port);
uint16_t map_switch_comm_ip_udp_port_get();
uint16_t map_switch_comm_ip_ssl_port_get();
int map_ip_base_port_is_valid(uint16_t port);
void map_switch_comm_ip_ports_derive(map_ip_ports* ports);
int map_switch_comm_ip_base_port_sync(map_switch_comm* rec);
int map_switch_comm_ip_base_port_apply(map_switch_comm* rec);
[[nodiscard]] int map_switch_comm_udp_connection_open(map_switch_comm* rec);
int map_switch_comm_udp_connection_close(map_switch_comm* rec);
int l2_queue_push(map_l2_queue* q, uint32_t ip);
int l2_queue_pop(map_l2_queue* q, uint32_t* out);
int map_switch_comm_check_timeout(map_switch_comm* rec, uint32_t elapsed,
                                  map_ap_provision_params* prov, uint32_t now);
const char* map_switch_comm_state_name(int state);
const char* map_switch_comm_reason_name(int reason);

// The provisioning fields that the discover, failure notification and
// identification messages carry, in their wire form.
struct map_provision_wire {
    uint8_t primary[MAP_SWITCH_ADDR_LEN];
    uint8_t backup[MAP_SWITCH_ADDR_LEN];
    uint8_t mutual_auth;
    uint8_t reprovision_unmanaged;
};
map_provision_wire map_provision_wire_fields(const map_ap_provision_params* prov);
// Sends one datagram from the UDP socket to `ip` at the UDP port; 0 or -1.
[[nodiscard]] int map_switch_comm_udp_send(map_switch_comm* rec, uint32_t ip, const uint8_t* buf, size_t len);

// Sends a datagram to the daemon's own UDP port on 127.0.0.1 (the reports of
// its children); the count sent or -1.
int map_udp_send_msg(const uint8_t* msg, size_t length);

// ---- discovery -----------------------------------------------------------------
struct map_discover_summary {
    uint8_t device_type;
    uint8_t mac[6];
    uint32_t ip;
    uint32_t mask;
    uint16_t vendor_id;
    uint16_t protocol_version;
    uint8_t elem_274;
};

[[nodiscard]] int map_switch_comm_send_discover_pkt(map_switch_comm* rec, uint32_t ip,
                                      const map_ap_provision_params* prov);
int map_switch_comm_process_discover_pkt(map_switch_comm* rec, const uint8_t* body, int length,
                                         int reason, map_ap_provision_params* prov);
int map_switch_comm_extract_discover_pkt(const uint8_t* body, int length,
                                         map_discover_summary* summary);
int map_switch_comm_discovery_timeout(map_switch_comm* rec, map_ap_provision_params* prov);
int map_switch_comm_provisioning_discovery(map_switch_comm* rec, map_ap_provision_params* prov);
void map_switch_comm_provisioning_discovery_reset();
int map_switch_comm_provisioning_discovery_counter();
uint32_t map_switch_resolve_host_name(const char* name);
void map_switch_calculate_num_addr(map_switch_comm* rec);
int map_switch_comm_validate_ip_address(map_switch_comm* rec, uint32_t ip);
void map_switch_calcualte_discovery_reason(map_switch_comm* rec, int reason);
int map_switch_comm_discover_ip_addr_init(map_switch_comm* rec);
int map_switch_comm_discover_ip_addr_get(uint32_t ip, int* index, map_switch_comm* rec);
int map_switch_comm_discover_ip_addr_add(uint32_t ip, map_switch_comm* rec);
int map_switch_comm_discover_ip_addr_update(uint32_t ip, int index, map_switch_comm* rec);
int map_switch_comm_discover_ip_addr_validate(uint32_t ip, map_switch_comm* rec);
int map_switch_comm_discover_ip_addr_dump(map_switch_comm* rec);
int map_switch_comm_l2_discovery_enable(map_switch_comm* rec);
int map_switch_comm_l2_discovery_disable(map_switch_comm* rec);
// Disable, then enable: the layer-2 poll queue starts empty.
void map_switch_comm_l2_discovery_restart(map_switch_comm* rec);
// Builds the 105-byte discover (type 1) or TLS failure notification (type 11).
size_t map_switch_comm_build_discover(uint8_t* buf, size_t cap, uint16_t type,
                                      const map_ap_provision_params* prov);

// ---- secure channel --------------------------------------------------------------
[[nodiscard]] int map_switch_comm_ssl_ctx_create(map_switch_comm* rec, const map_ap_provision_params* prov);
[[nodiscard]] int map_switch_comm_ssl_connection_open(map_switch_comm* rec, int verify);
int map_switch_comm_ssl_connection_close(map_switch_comm* rec);
int map_switch_comm_util_ssl_find_error(SSL* ssl, int ret);
[[nodiscard]] int map_switch_comm_data_send(map_switch_comm* rec, const uint8_t* buf, int length, int over_tls);
// True while messages wait for the TLS socket (the main loop then waits for
// it to become writable).
bool map_switch_comm_tls_write_pending(const map_switch_comm* rec);
// Writes what waits, as far as the socket takes it, and drops the link when
// the first waiting message has waited MAP_TLS_STALL_SECONDS or the write
// fails.  0, or -1 when the link was dropped.
[[nodiscard]] int map_switch_comm_tls_flush(map_switch_comm* rec);
[[nodiscard]] int map_send_tls_conn_failure_notification_pkt(map_switch_comm* rec,
                                               const map_ap_provision_params* prov);
[[nodiscard]] int map_ap_mutual_auth_init(ssl_ctx_ptr* ctx_slot);
int map_ap_mutual_auth_verify_cert_callback(int preverify_ok, X509_STORE_CTX* store);

// ---- identification, authentication, keepalive, relink ---------------------------
int map_switch_comm_populate_ap_parameters(map_switch_comm* rec);
int map_hw_type_get();
[[nodiscard]] int map_switch_comm_send_ap_identification_pkt(map_switch_comm* rec,
                                               const map_ap_provision_params* prov);
int map_switch_comm_process_auth_req_pkt(map_switch_comm* rec);
int map_switch_comm_send_authentication_pkt(map_switch_comm* rec);
int map_switch_comm_process_auth_succeed_pkt(map_switch_comm* rec);
int map_switch_comm_process_keepalive_pkt(map_switch_comm* rec, const uint8_t* body, int length);
int map_switch_comm_extract_keepalive_pkt(const uint8_t* body, int length, uint32_t* interval);
int map_switch_comm_send_keepalive_pkt(map_switch_comm* rec);
int map_switch_comm_calculate_timeout_interval(map_switch_comm* rec, uint32_t interval);
int map_switch_comm_keepalive_timeout(map_switch_comm* rec);
int map_switch_comm_process_relink_pkt(map_switch_comm* rec, const uint8_t* body, int length,
                                       map_ap_provision_params* prov);
int map_switch_comm_extract_relink_pkt(const uint8_t* body, int length, uint32_t* ip);
int map_switch_comm_process_debug_pkt(map_switch_comm* rec, const uint8_t* body, int length,
                                      map_ap_provision_params* prov);
int map_switch_comm_rfscan_timeout(map_switch_comm* rec);
