// Numeric ids of the texts the Qt-free core uses.
#pragma once

namespace res {

enum StringId : unsigned {
    IDS_OPEN_ADAPTER_FAILED = 3008,
    IDS_CONNECTED_WITH = 57677,
    IDS_CONNECT_TIMEOUT = 57678,
    IDS_CONNECT_FAILED = 57679,
    IDS_DOWNLOAD_COMMITTING = 57680,
    IDS_NOT_CONNECTED = 57681,
    IDS_LAST_NOT_COMPLETED = 57682,
    IDS_INTERFACE_NOT_OPENED = 57683,
    IDS_LISTENING = 57684,
    IDS_SYSTEM_BUSY = 57685,
    IDS_DOWNLOADING = 57686,
    IDS_DOWNLOADING_2 = 57687,
    IDS_GETTING_PARAMS = 57688,
    IDS_DIAGNOSING = 57689,
    IDS_GETTING_TRACE = 57690,
    IDS_LOOP_TESTING = 57691,
    IDS_RESULT_FIRST = 57692,     // FdpResult texts 57692..57701
    IDS_RESULT_UNKNOWN = 57701,
    IDS_STAGE_FIRST = 57702,      // phases 1 and 2 of steps 0..8, two per step
    IDS_STAGE_END_FIRST = 57720,  // phase 3 of steps 0..8
    IDS_STAGE_INVALID = 57729,
    IDS_DOWNLOAD_STOPPED = 57730,
    IDS_OPERATION_FAILED = 57731,
    IDS_OPERATION_OK = 57732,
    // The loop test's report lines.
    IDS_DONGLE_TEST_MODE_OK = 57744,
    IDS_DONGLE_TEST_MODE_FAILED = 57745,
    IDS_TARGET_TEST_MODE_OK = 57761,
    IDS_TARGET_TEST_MODE_FAILED = 57762,
    IDS_READ_BDADDR_FAILED = 57763,
    IDS_ESTABLISHING_ACL = 57764,
    IDS_ACL_ESTABLISHED = 57765,
    IDS_TARGET_TO_DONGLE = 57766,
    IDS_TARGET_LOST_RATE = 57767,
    IDS_DONGLE_TO_TARGET = 57768,
    IDS_DONGLE_LOST_RATE = 57769,
    IDS_ACL_TIMEOUT = 57770,

    // Our own texts, numbered beyond the system's (which end at 57787). %1, %2: the
    // words FormatString fills in.
    IDS_NO_SUCH_INTERFACE = 61001,        // %1 interface
    IDS_NO_RAW_PRIVILEGE = 61002,         // %1 interface, %2 program path (a build tree or portable copy)
    IDS_INTERFACE_DOWN = 61005,           // %1 interface
    IDS_ADDRESS_UNREADABLE = 61006,       // %1 interface
    IDS_CANNOT_OPEN_INTERFACE = 61007,    // %1 interface, %2 the system's words
    IDS_CANNOT_PREPARE_CAPTURE = 61008,   // %1 interface, %2 the system's words
    IDS_ANNOUNCE_IGNORED_WIRELESS = 61009,   // %1 interface
    IDS_NO_RAW_PRIVILEGE_INSTALLED = 61010,  // %1 interface, %2 program path (installed under /usr)
    IDS_NEEDS_GRAPHICAL_SESSION = 61011,
    IDS_FOLDER_NOT_WRITABLE = 61020,      // %1 folder
    IDS_NO_WORK_FOLDER = 61021,
    IDS_WORK_FOLDER_NOT_OWN = 61022,      // %1 folder
    IDS_WORK_FOLDER_SHARED = 61023,       // %1 folder
    IDS_OTHER_TARGET = 61040,             // %1 address: the wizard's line
    IDS_ALSO_HEARD = 61041,               // %1 address, %2 adapter: kelvane-cli's line
    IDS_VERSION_AFTER = 61042,            // %1 version
    IDS_VERSION_AFTER_UNREAD = 61043,
    IDS_BAD_TARGET_ADDRESS = 61044,       // %1 the text given
    IDS_TARGET_HEARD = 61045,             // %1 address, %2 adapter, %3 announces, %4 seconds
    IDS_NO_TARGET_HEARD = 61046,          // %1 seconds
    IDS_VERSION_MISMATCH = 61047,         // %1 the target's version, %2 the file's
    IDS_TARGET_WITH_REPEAT = 61048,
    IDS_ADAPTER_LOST = 61050,             // %1 adapter, %2 what the target was left doing
    IDS_LOST_DURING_TRANSFER = 61051,
    IDS_LOST_DURING_ERASE = 61052,        // %1 area
    IDS_LOST_DURING_BURN = 61053,         // %1 area
    IDS_LOST_DURING_REQUEST = 61054,
    IDS_AREA_BOOT = 61055,
    IDS_AREA_PROGRAM = 61056,
    IDS_AREA_PARAMETER = 61057,
    IDS_INTERRUPTED_LINE = 61060,         // %1 what the target was left doing: kelvane-cli's line
    IDS_INTERRUPTED_RESULT = 61061,       // %1 the same: the outcome's result
    IDS_STOPPED_LISTENING = 61062,
    IDS_STOPPED_TRANSFER = 61063,         // %1 area
    IDS_STOPPED_ERASE = 61064,            // %1 area
    IDS_STOPPED_BURN = 61065,             // %1 area
    IDS_STOPPED_REQUEST = 61066,
    IDS_ANNOUNCE_IGNORED_VIRTUAL = 61067,    // %1 interface
    IDS_NO_INTERFACE_MATCHES = 61068,        // %1 the --interface list as given
    IDS_NAME_VIRTUAL_ADAPTER = 61069,        // %1 the virtual adapters that are up, %2 the first: the connection page's hint
    IDS_SEVERAL_TARGETS = 61070,          // kelvane-cli's line (exit 9)
    IDS_TARGET_ON_SEVERAL_ADAPTERS = 61071,   // %1 address: kelvane-cli's line
    IDS_CHOOSE_TARGET = 61072,            // the connection page's question
    IDS_COLUMN_ADDRESS = 61073,
    IDS_COLUMN_ADAPTER = 61074,
    IDS_COLUMN_LAST_HEARD = 61075,
    IDS_SECONDS_AGO = 61076,              // %1 seconds
    IDS_CONNECT_CHOSEN = 61077,           // the connection page's button
    IDS_NAMED_FOLDER_NOT_OWN = 61080,     // %1 folder: kelvane-cli --folder
    IDS_NAMED_FOLDER_SHARED = 61081,      // %1 folder: kelvane-cli --folder
    IDS_OUTPUT_NOT_OWN = 61082,           // %1 file: kelvane-cli params/trace OUT
    IDS_DONGLE_LOST = 61101,              // %1 why: a loop test report line
    IDS_PARAM_TASKS_OFF = 61110,          // the connection page's line without a working folder
    IDS_VERSION_NOT_RECORDED = 61111,     // a firmware report's line without a working folder
};

}  // namespace res
