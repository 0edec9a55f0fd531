# The daemon proper.  Start-up, dispatch, the switch link, the local sockets
# and the config/status component call each other both ways (closing the TLS
# channel runs the connection clean-up of the dispatcher, the dispatcher runs
# the switch handlers), so they form one library; the layers below them
# (platform, log, wire, dman, config accessors, certificates) stay separate.
mapd_library(mapd_daemon
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/core/managed_ap.cpp
    ${CMAKE_CURRENT_LIST_DIR}/core/map_handler.cpp
    ${CMAKE_CURRENT_LIST_DIR}/core/map_vpd.cpp
    ${CMAKE_CURRENT_LIST_DIR}/switch/switch_comm.cpp
    ${CMAKE_CURRENT_LIST_DIR}/switch/switch_discovery.cpp
    ${CMAKE_CURRENT_LIST_DIR}/switch/switch_tls.cpp
    ${CMAKE_CURRENT_LIST_DIR}/switch/switch_link.cpp
    ${CMAKE_CURRENT_LIST_DIR}/local/mmsg_handler.cpp
    ${CMAKE_CURRENT_LIST_DIR}/local/switch_module.cpp
    ${CMAKE_CURRENT_LIST_DIR}/local/map_client_relay.cpp
    ${CMAKE_CURRENT_LIST_DIR}/local/map_client_cmds.cpp
    ${CMAKE_CURRENT_LIST_DIR}/local/map_client_auth.cpp
    ${CMAKE_CURRENT_LIST_DIR}/local/map_tspec.cpp
    ${CMAKE_CURRENT_LIST_DIR}/cltqos/map_cltqos_bw.cpp
    ${CMAKE_CURRENT_LIST_DIR}/cltqos/map_cltqos.cpp
    ${CMAKE_CURRENT_LIST_DIR}/cltqos/map_cltqos_mode.cpp
    ${CMAKE_CURRENT_LIST_DIR}/update/map_update.cpp
    ${CMAKE_CURRENT_LIST_DIR}/update/map_reset.cpp
    ${CMAKE_CURRENT_LIST_DIR}/tunnel/map_tunnel.cpp
    ${CMAKE_CURRENT_LIST_DIR}/tunnel/map_cp.cpp
    ${CMAKE_CURRENT_LIST_DIR}/tunnel/map_dl2tunnel.cpp
    ${CMAKE_CURRENT_LIST_DIR}/tunnel/map_cl2tunnel.cpp
    ${CMAKE_CURRENT_LIST_DIR}/commands/map_cs.cpp
    ${CMAKE_CURRENT_LIST_DIR}/config/map_config.cpp
    ${CMAKE_CURRENT_LIST_DIR}/commands/map_cs_config.cpp
    ${CMAKE_CURRENT_LIST_DIR}/commands/map_cs_radio.cpp
    ${CMAKE_CURRENT_LIST_DIR}/commands/map_cs_vap.cpp
    ${CMAKE_CURRENT_LIST_DIR}/commands/map_cs_cp.cpp
    ${CMAKE_CURRENT_LIST_DIR}/commands/map_cs_radio_cmds.cpp
    ${CMAKE_CURRENT_LIST_DIR}/commands/map_cs_wids.cpp
    ${CMAKE_CURRENT_LIST_DIR}/commands/map_ap_provision.cpp
    ${CMAKE_CURRENT_LIST_DIR}/config/map_config_radio.cpp
    ${CMAKE_CURRENT_LIST_DIR}/config/map_config_vap.cpp
    ${CMAKE_CURRENT_LIST_DIR}/stats/map_stats_collect.cpp
    ${CMAKE_CURRENT_LIST_DIR}/stats/map_stats_report.cpp
  DEPS mapd_store mapd_ssl_util mapd_stats mapd_stats_write mapd_switch_util mapd_local_records
       mapd_dman mapd_log mapd_wire mapd_platform OpenSSL::SSL OpenSSL::Crypto)
