// Start-up wait for the configuration database.
#pragma once

// Waits until the database marks itself ready ("/var/run/dman.pid" exists),
// testing once a second with no limit.  Returns 0.
int map_dman_lsql_init(void);
