// Writing the radio and VAP configuration records to the configuration
// database when a configuration sequence stops, and reading a VAP back.
//
// Every apply function takes an error slot: on failure it leaves a heap text
// there (malloc, at most MAP_CONFIG_ERROR_LEN characters) for the receiver to
// free(); that text travels back to the switch in the configuration status.
// When the database refused a write, the slot holds the database's own text.
// All return 0 or -1.
#pragma once

#include <cstddef>

#include "store/map_radio_config.hpp"
#include "store/map_vap_config.hpp"
#include "dman/lsqlquery.hpp"

struct map_cs;

// Longest error text left in an error slot.
inline constexpr size_t MAP_CONFIG_ERROR_LEN = 64;

// ---- radios -----------------------------------------------------------------------

// The radio apply: for the two radio records of the component in order, skips
// a radio without a "radio" instance or whose admin mode is 0 (its QoS too),
// then writes the changed groups and always the changed QoS queues.  The
// first failure ends it.
int map_config_radio_apply(map_cs* cs, char** error);

// "radio" properties of one record (instance = its name).
int map_dman_lsql_apply_radio_configuration(const map_radio_config* radio, char** error);
// "tspec-acm" properties of one record.
int map_dman_lsql_apply_radio_tspec_acm_configuration(const map_radio_config* radio, char** error);
// The service-set values are kept for comparison only: writes nothing.
int map_dman_lsql_apply_radio_service_set_configuration(const map_radio_config* radio,
                                                        char** error);
// Replaces the "supported-rate" and "basic-rate" rows of the radio with one
// "rate" row per bit set, in bit order.  An empty set is refused.
int map_dman_lsql_apply_radio_rate_configuration(const map_radio_config* radio, char** error);
// Writes the queues whose changed flag is set ("tx-queue" and "wme-queue"),
// clearing each flag first.
int map_dman_lsql_apply_radio_qos_configuration(map_radio_config* radio, char** error);

// ---- VAPs -------------------------------------------------------------------------

// The VAP apply: for the two radios in order, skips a radio without a "radio"
// instance or whose admin mode is 0 (its VAPs are then not written at all);
// otherwise writes every VAP marked changed ("vap", client QoS, "interface",
// "bss"), clearing the mark first.  The first failure ends it.
int map_config_vap_apply(map_cs* cs, char** error);

// "vap" properties: instance "vap<id>" qualified by "radio" = radio_name.
int map_dman_lsql_apply_vap_configuration(const map_vap_config* vap, const char* radio_name,
                                          char** error);
// The VAP's client QoS defaults, same instance and qualifier.
int map_dman_lsql_apply_vap_cltqos_configuration(const map_vap_config* vap, const char* radio_name,
                                                 char** error);
// "interface" properties: instance "wlan<r>" for VAP 0, else "wlan<r>vap<id>",
// r = radio id - 1.
int map_dman_lsql_apply_vap_interface_configuration(const map_vap_config* vap, char** error);
// "bss" properties: instance "wlan<r>bssvap<id>".
int map_dman_lsql_apply_vap_bss_configuration(const map_vap_config* vap, char** error);

// Reads VAP `vap_index` of radio "wlan<radio_index>" back into `out`: admin
// mode, VLAN id, redirect mode and URL, client QoS mode, default bandwidths,
// ACL types and names, policy names.  Other fields are left alone.  -1 for a
// null `out` or when nothing could be read.
int map_dman_lsql_get_vap_configuration(int vap_index, int radio_index, map_vap_config* out);

// ---- shared by the apply files ----------------------------------------------------

// Frees what *error holds and leaves a heap copy of `text` there, cut to
// MAP_CONFIG_ERROR_LEN characters.  A null slot is accepted.
void map_config_error_set(char** error, const char* text);
// Writes one row with the error-text variant.  On failure the database's text
// (or `fallback` when it gave none) is left in *error and -1 returned.
int map_config_write_row(const char* cls, const char* instance, pv* list, pv* qualifier,
                         char** error, const char* fallback);
// Traces "<prefix><name> = <value>" for every node of `list`.
void map_config_trace_list(const pv* list, const char* prefix);
