// Client library of the AP's configuration database (the DMAN).
//
// Settings are addressed by class, instance name (none for single-instance
// classes) and property; every value is text.  Lists of property-value nodes
// carry names and values in and out: `next` links the properties of one row,
// `peer` links rows.  Results: 0 or non-null is success.
//
// An instance holds one row of properties, or several: the rows of a
// multi-row class, or the rows of a VAP instance name repeated per radio, told
// apart by their "radio" property.  A qualifier list selects the rows that
// hold every one of its name = value pairs; a set that finds no such row
// creates one holding them.  A null instance means every instance of the
// class (a read takes the first row found).
//
// Nodes made by the library own copies of their texts and are freed with
// lsqlquery_destroy_pv.  A caller may also pass one node of its own in zeroed
// storage; the library only reads it.
//
// The database knows its names (dman/dman_schema.hpp): every write refuses a
// class, instance or property it does not know, with -1 and, where there is
// an error slot, a text naming it ("unknown property \"foo\" of class
// \"radio\"").  A refused write writes nothing.  Reads of unknown names find
// nothing.
#pragma once

#include <cstddef>

// Property-value node.
struct pv {
    char* name;   // property name
    char* value;  // value text; null in a list of wanted properties
    pv* peer;     // next row
    pv* next;     // next property of the same row
};

// One node.
pv* lsqlquery_new_pv_solo(const char* name, const char* value);
// A new node linked after `tail` (through `next`; a null tail starts a list).
// The caller keeps the head.  A node with a null value names a wanted
// property; a node "radio" = "wlan%d" in a qualifier list qualifies a VAP.
pv* lsqlquery_new_pv(const char* name, const char* value, pv* tail);
// As lsqlquery_new_pv, but linked after `tail` as the next row (through
// `peer`).  `unused` is always null.
pv* lsqlquery_new_pv_with_peer(const char* name, const char* value, pv* unused, pv* tail);
// Frees a list, every row included; null is accepted.
void lsqlquery_destroy_pv(pv* list);

// A list whose first node holds the value of one property, or null.
pv* lsqlquery_get_pv(const char* cls, const char* instance, const char* property);
// The same for an instance qualified by its parent ("vap" under "radio").
pv* lsqlquery_get_pv_q1(const char* cls, const char* instance, const char* property,
                        const char* parent_cls, const char* parent_instance);
// Rows linked by peer, their nodes by next.  `wanted` names the properties
// (null: all); `qualifier` holds a parent qualifier node ("radio" = "wlan0").
// With no instance, no wanted list and flag 1: one row per instance whose
// first node's value is the instance name.  Null when nothing is found.
pv* lsqlquery_get_grid(const char* cls, const char* instance, pv* wanted, pv* qualifier, int flag);

// Writes every node of `list` (one row) to the instance (null: the class's
// single instance, or all instances of a multi-instance class).
int lsqlquery_set_pv(const char* cls, const char* instance, pv* list, pv* qualifier);
// The same; on failure it may leave a heap text in *error that the receiver
// frees with free().
int lsqlquery_set_pv_with_error(const char* cls, const char* instance, pv* list, pv* qualifier,
                                char** error);
// Adds the rows of a multi-row class (each row a `next` list, rows by `peer`).
int lsqlquery_insert_pv(const char* cls, const char* instance, pv* rows);
// The same, with an error slot as lsqlquery_set_pv_with_error.
int lsqlquery_insert_pv_with_error(const char* cls, const char* instance, pv* rows, char** error);
// Deletes the rows that `list` selects (every node must match), or all rows
// of the instance when `list` is null.
int lsqlquery_delete_pv(const char* cls, const char* instance, pv* list);

// ---- transactions ------------------------------------------------------------

// Operation codes of a transaction item.
inline constexpr int LSQLQUERY_OP_SET = 2;

struct lsqlquery_transaction_info;

// One item; it takes ownership of `list`, also when it returns null because
// the item cannot be made (an unknown operation, a bad class or instance
// name, no list).  `flags` is reserved (0).
lsqlquery_transaction_info* lsqlquery_transaction_info_new(int op, const char* cls,
                                                           const char* instance, pv* list,
                                                           int flags);
// Chains `item` after the last item of `first`; 0 or -1.
int lsqlquery_transaction_info_add(lsqlquery_transaction_info* first,
                                   lsqlquery_transaction_info* item);
// Writes every item in one database transaction, or nothing (an item with an
// unknown name included).  On failure a heap text is left in *error (the
// write succeeded only if none came back).
int lsqlquery_write_pv_multi(lsqlquery_transaction_info* first, char** error);
// Frees the chain and the lists it owns.
void lsqlquery_transaction_info_delete(lsqlquery_transaction_info* first);

// ---- limits, connection, test hooks -----------------------------------------

// Class, instance and property names are 1 to 63 bytes without control
// characters (an empty instance is the single instance of a class); values are
// at most 1023 bytes.  Anything else is refused with an error result.
inline constexpr size_t LSQLQUERY_NAME_MAX = 63;
inline constexpr size_t LSQLQUERY_VALUE_MAX = 1023;

// Drops this process's database connection; the next call opens it again.
// 0, or -1 when the connection could not be closed cleanly.
int lsqlquery_close(void);
// Tests: makes the `nth` next database write (one committed transaction) fail
// as if the database had refused it; 1 = the very next one, 0 clears.
void lsqlquery_fail_nth_write(unsigned nth);
// Write transactions this process has committed so far (figures, tests).
unsigned long lsqlquery_commit_count(void);
