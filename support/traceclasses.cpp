// The trace class table, the aggregate table and the client tags.

#include "traceclasses.h"

// Every class starts off.
uint8_t traceFlag_ERROR = 0;
uint8_t traceFlag_ACTIVEDIR = 0;
uint8_t traceFlag_ADMIN = 0;
uint8_t traceFlag_CLIENTTYPE = 0;
uint8_t traceFlag_COMM = 0;
uint8_t traceFlag_COMMDETAIL = 0;
uint8_t traceFlag_COMMFULL = 0;
uint8_t traceFlag_CONFIG = 0;
uint8_t traceFlag_DEBUG = 0;
uint8_t traceFlag_DIROPS = 0;
uint8_t traceFlag_FDB = 0;
uint8_t traceFlag_EXCLUDECACHE = 0;
uint8_t traceFlag_FILEOPS = 0;
uint8_t traceFlag_GENERAL = 0;
uint8_t traceFlag_FILELINK = 0;
uint8_t traceFlag_INCR = 0;
uint8_t traceFlag_MEMORY = 0;
uint8_t traceFlag_PROXY = 0;
uint8_t traceFlag_PROXY_DETAIL = 0;
uint8_t traceFlag_SESSION = 0;
uint8_t traceFlag_TXN = 0;
uint8_t traceFlag_NLS = 0;
uint8_t traceFlag_COMPRESS = 0;
uint8_t traceFlag_COMPRESS_DETAIL = 0;
uint8_t traceFlag_FS = 0;
uint8_t traceFlag_ENTER = 0;
uint8_t traceFlag_MESSAGES = 0;
uint8_t traceFlag_TRUSTED = 0;
uint8_t traceFlag_MEMDETAIL = 0;
uint8_t traceFlag_AUDIT = 0;
uint8_t traceFlag_AUDIT_LIST = 0;
uint8_t traceFlag_SMSDEBUG = 0;
uint8_t traceFlag_SMS_DETAIL = 0;
uint8_t traceFlag_POLICY = 0;
uint8_t traceFlag_API = 0;
uint8_t traceFlag_VERBADMIN = 0;
uint8_t traceFlag_VERBINFO = 0;
uint8_t traceFlag_TIMESTAMP = 0;
uint8_t traceFlag_PREFIX = 0;
uint8_t traceFlag_SESSVERB = 0;
uint8_t traceFlag_FIOATTRIBS = 0;
uint8_t traceFlag_EXIT = 0;
uint8_t traceFlag_SM = 0;
uint8_t traceFlag_SMVERBOSE = 0;
uint8_t traceFlag_NTREGISTRY = 0;
uint8_t traceFlag_DIRDETAIL = 0;
uint8_t traceFlag_PID = 0;
uint8_t traceFlag_FSPS = 0;
uint8_t traceFlag_TEST = 0;
uint8_t traceFlag_STATS = 0;
uint8_t traceFlag_CONFIRM = 0;
uint8_t traceFlag_EVENT = 0;
uint8_t traceFlag_SMLOG = 0;
uint8_t traceFlag_DMI = 0;
uint8_t traceFlag_DOMAIN = 0;
uint8_t traceFlag_THREAD = 0;
uint8_t traceFlag_THREAD_STATUS = 0;
uint8_t traceFlag_EVENTLOG = 0;
uint8_t traceFlag_TID = 0;
uint8_t traceFlag_DFS = 0;
uint8_t traceFlag_API_DETAIL = 0;
uint8_t traceFlag_WIN2K = 0;
uint8_t traceFlag_VSS = 0;
uint8_t traceFlag_VSS_DETAIL = 0;
uint8_t traceFlag_OBJENUM = 0;
uint8_t traceFlag_OFSFILENAME = 0;
uint8_t traceFlag_LOGREPLACEONREBOOT = 0;
uint8_t traceFlag_IMAGE = 0;
uint8_t traceFlag_APPL = 0;
uint8_t traceFlag_PVR = 0;
uint8_t traceFlag_PVRBUF = 0;
uint8_t traceFlag_PVRDEV = 0;
uint8_t traceFlag_QUERY = 0;
uint8_t traceFlag_PFM = 0;
uint8_t traceFlag_PFM_DETAIL = 0;
uint8_t traceFlag_DELTA = 0;
uint8_t traceFlag_DELTASTAT = 0;
uint8_t traceFlag_ENCRYPT = 0;
uint8_t traceFlag_ENCRYPTDETAIL = 0;
uint8_t traceFlag_ACL = 0;
uint8_t traceFlag_PSTAPE = 0;
uint8_t traceFlag_RECOV = 0;
uint8_t traceFlag_IC49009 = 0;
uint8_t traceFlag_IMAGE_DETAIL = 0;
uint8_t traceFlag_IMAGETHREAD = 0;
uint8_t traceFlag_SDB = 0;
uint8_t traceFlag_VERBDETAIL = 0;
uint8_t traceFlag_UNICODE = 0;
uint8_t traceFlag_CADSCHED = 0;
uint8_t traceFlag_RESTORE = 0;
uint8_t traceFlag_PASSWORD = 0;
uint8_t traceFlag_SYSTEMOBJECT = 0;
uint8_t traceFlag_JBBSERVICE = 0;
uint8_t traceFlag_JBBDAEMON = 0;
uint8_t traceFlag_JBBCOMM = 0;
uint8_t traceFlag_JBBFIFO = 0;
uint8_t traceFlag_JBBFILEMON = 0;
uint8_t traceFlag_JBBFILEMONCSV = 0;
uint8_t traceFlag_JBBFSNOTIFY = 0;
uint8_t traceFlag_JBBDBACCESS = 0;
uint8_t traceFlag_JBBDBINSERTS = 0;
uint8_t traceFlag_JBBDBDELETES = 0;
uint8_t traceFlag_JBBQUERY = 0;
uint8_t traceFlag_JBBNPCOMM = 0;
uint8_t traceFlag_JBBVERBINFO = 0;
uint8_t traceFlag_JBBDBINFO = 0;
uint8_t traceFlag_JOURNAL = 0;
uint8_t traceFlag_NAS = 0;
uint8_t traceFlag_NAS_DETAIL = 0;
uint8_t traceFlag_MAC_DETAIL = 0;
uint8_t traceFlag_DISKMAP = 0;
uint8_t traceFlag_DISKMAP_DETAIL = 0;
uint8_t traceFlag_INCLEXCL = 0;
uint8_t traceFlag_INCLEXCL_DETAIL = 0;
uint8_t traceFlag_INSTRUMENT = 0;
uint8_t traceFlag_EXTRC = 0;
uint8_t traceFlag_EXTRC_DETAIL = 0;
uint8_t traceFlag_COMGUI = 0;
uint8_t traceFlag_SNAPSHOT = 0;
uint8_t traceFlag_SNAPSHOT_DETAIL = 0;
uint8_t traceFlag_SNAPSHOT_DRIVER = 0;
uint8_t traceFlag_SNAPSHOT_DRIVER_DETAIL = 0;
uint8_t traceFlag_MEMLEAK = 0;
uint8_t traceFlag_GROUPS = 0;
uint8_t traceFlag_SCHED = 0;
uint8_t traceFlag_CLUSTER = 0;
uint8_t traceFlag_NODEACCESS = 0;
uint8_t traceFlag_NAMEDPIPES = 0;
uint8_t traceFlag_FIFO = 0;
uint8_t traceFlag_DOM = 0;
uint8_t traceFlag_DOM_DETAIL = 0;
uint8_t traceFlag_ZYN = 0;
uint8_t traceFlag_ZYN_DETAIL = 0;
uint8_t traceFlag_ZYN_LOG = 0;
uint8_t traceFlag_HCI = 0;
uint8_t traceFlag_HCI_DETAIL = 0;
uint8_t traceFlag_HDW = 0;
uint8_t traceFlag_HDW_DETAIL = 0;
uint8_t traceFlag_HWVM = 0;
uint8_t traceFlag_UTIL = 0;
uint8_t traceFlag_C2C = 0;
uint8_t traceFlag_SBRM = 0;
uint8_t traceFlag_LSM = 0;
uint8_t traceFlag_XATTR = 0;
uint8_t traceFlag_XATTR_DETAIL = 0;
uint8_t traceFlag_RESTFILECOPY = 0;
uint8_t traceFlag_STATUSLOG = 0;
uint8_t traceFlag_CACHEDB = 0;
uint8_t traceFlag_BACACHE = 0;
uint8_t traceFlag_BACACHEMIGR = 0;
uint8_t traceFlag_DBPERF = 0;
uint8_t traceFlag_DBSTATS = 0;
uint8_t traceFlag_BTREEDB = 0;
uint8_t traceFlag_SMWIN = 0;
uint8_t traceFlag_EDITOR = 0;
uint8_t traceFlag_SMSCOUT = 0;
uint8_t traceFlag_SMSCOUTDETAIL = 0;
uint8_t traceFlag_SMSCOUTSEARCH = 0;
uint8_t traceFlag_SMSCOUTSEARCHDETAIL = 0;
uint8_t traceFlag_SMSCOUTSCAN = 0;
uint8_t traceFlag_SMSCOUTSCANDETAIL = 0;
uint8_t traceFlag_SMSCOUTQUERY = 0;
uint8_t traceFlag_SMSCOUTQUERYDETAIL = 0;
uint8_t traceFlag_SMSCOUTCOMM = 0;
uint8_t traceFlag_SMSCOUTCOMMDISPATCHER = 0;
uint8_t traceFlag_SMSCOUTCOMMCALLER = 0;
uint8_t traceFlag_SMSCOUTCOMMSOAP = 0;
uint8_t traceFlag_SMSCOUTHASHTABLE = 0;
uint8_t traceFlag_SMSCOUTHASHTABLEDETAIL = 0;
uint8_t traceFlag_SMSIGNALHANDLER = 0;
uint8_t traceFlag_SMRECALL = 0;
uint8_t traceFlag_SMRECALLDETAIL = 0;
uint8_t traceFlag_SMRECONCILE = 0;
uint8_t traceFlag_SMRECONCILEDETAIL = 0;
uint8_t traceFlag_SMEXCEPTION = 0;
uint8_t traceFlag_SMAUTOMIG = 0;
uint8_t traceFlag_SMAUTOMIGDETAIL = 0;
uint8_t traceFlag_SMXDSM = 0;
uint8_t traceFlag_SMXDSMDETAIL = 0;
uint8_t traceFlag_QUERYSTATS = 0;
uint8_t traceFlag_SMFSTABLE = 0;
uint8_t traceFlag_SMFSTABLEDETAIL = 0;
uint8_t traceFlag_SMFIO = 0;
uint8_t traceFlag_LPM = 0;
uint8_t traceFlag_SNAPDIFFDB = 0;
uint8_t traceFlag_SNAPDIFFDUMPNAME = 0;
uint8_t traceFlag_FMDBNPDB = 0;
uint8_t traceFlag_FMDBFSDB = 0;
uint8_t traceFlag_FMDBOBJDB = 0;
uint8_t traceFlag_FMDB = 0;

const TraceClass traceClassTable[traceClassCount + 1] = {
    {"ERROR", &traceFlag_ERROR, 0},
    {"ACTIVEDIR", &traceFlag_ACTIVEDIR, 0},
    {"ADMIN", &traceFlag_ADMIN, 0},
    {"CLIENTTYPE", &traceFlag_CLIENTTYPE, 0},
    {"COMM", &traceFlag_COMM, 1},
    {"COMMDETAIL", &traceFlag_COMMDETAIL, 1},
    {"COMMFULL", &traceFlag_COMMFULL, 1},
    {"CONFIG", &traceFlag_CONFIG, 0},
    {"DEBUG", &traceFlag_DEBUG, 0},
    {"DIROPS", &traceFlag_DIROPS, 0},
    {"FDB", &traceFlag_FDB, 0},
    {"EXCLUDECACHE", &traceFlag_EXCLUDECACHE, 0},
    {"FILEOPS", &traceFlag_FILEOPS, 0},
    {"GENERAL", &traceFlag_GENERAL, 0},
    {"FILELINK", &traceFlag_FILELINK, 0},
    {"INCR", &traceFlag_INCR, 0},
    {"MEMORY", &traceFlag_MEMORY, 0},
    {"PROXY", &traceFlag_PROXY, 0},
    {"PROXY_DETAIL", &traceFlag_PROXY_DETAIL, 0},
    {"SESSION", &traceFlag_SESSION, 0},
    {"TXN", &traceFlag_TXN, 0},
    {"NLS", &traceFlag_NLS, 0},
    {"COMPRESS", &traceFlag_COMPRESS, 0},
    {"COMPRESS_DETAIL", &traceFlag_COMPRESS_DETAIL, 0},
    {"FS", &traceFlag_FS, 0},
    {"ENTER", &traceFlag_ENTER, 0},
    {"MESSAGES", &traceFlag_MESSAGES, 0},
    {"TRUSTED", &traceFlag_TRUSTED, 0},
    {"MEMDETAIL", &traceFlag_MEMDETAIL, 0},
    {"AUDIT", &traceFlag_AUDIT, 0},
    {"AUDIT_LIST", &traceFlag_AUDIT_LIST, 0},
    {"SMSDEBUG", &traceFlag_SMSDEBUG, 0},
    {"SMS_DETAIL", &traceFlag_SMS_DETAIL, 0},
    {"POLICY", &traceFlag_POLICY, 0},
    {"API", &traceFlag_API, 0},
    {"VERBADMIN", &traceFlag_VERBADMIN, 0},
    {"VERBINFO", &traceFlag_VERBINFO, 0},
    {"TIMESTAMP", &traceFlag_TIMESTAMP, 0},
    {"PREFIX", &traceFlag_PREFIX, 0},
    {"SESSVERB", &traceFlag_SESSVERB, 0},
    {"FIOATTRIBS", &traceFlag_FIOATTRIBS, 0},
    {"EXIT", &traceFlag_EXIT, 0},
    {"SM", &traceFlag_SM, 0},
    {"SMVERBOSE", &traceFlag_SMVERBOSE, 0},
    {"NTREGISTRY", &traceFlag_NTREGISTRY, 0},
    {"DIRDETAIL", &traceFlag_DIRDETAIL, 0},
    {"PID", &traceFlag_PID, 0},
    {"FSPS", &traceFlag_FSPS, 0},
    {"TEST", &traceFlag_TEST, 0},
    {"STATS", &traceFlag_STATS, 0},
    {"CONFIRM", &traceFlag_CONFIRM, 0},
    {"EVENT", &traceFlag_EVENT, 0},
    {"SMLOG", &traceFlag_SMLOG, 0},
    {"DMI", &traceFlag_DMI, 0},
    {"DOMAIN", &traceFlag_DOMAIN, 0},
    {"THREAD", &traceFlag_THREAD, 0},
    {"THREAD_STATUS", &traceFlag_THREAD_STATUS, 0},
    {"EVENTLOG", &traceFlag_EVENTLOG, 0},
    {"TID", &traceFlag_TID, 0},
    {"DFS", &traceFlag_DFS, 0},
    {"API_DETAIL", &traceFlag_API_DETAIL, 0},
    {"WIN2K", &traceFlag_WIN2K, 0},
    {"VSS", &traceFlag_VSS, 0},
    {"VSS_DETAIL", &traceFlag_VSS_DETAIL, 0},
    {"OBJENUM", &traceFlag_OBJENUM, 0},
    {"OFSFILENAME", &traceFlag_OFSFILENAME, 0},
    {"LOGREPLACEONREBOOT", &traceFlag_LOGREPLACEONREBOOT, 0},
    {"IMAGE", &traceFlag_IMAGE, 0},
    {"APPL", &traceFlag_APPL, 0},
    {"PVR", &traceFlag_PVR, 0},
    {"PVRBUF", &traceFlag_PVRBUF, 0},
    {"PVRDEV", &traceFlag_PVRDEV, 0},
    {"QUERY", &traceFlag_QUERY, 0},
    {"PFM", &traceFlag_PFM, 0},
    {"PFM_DETAIL", &traceFlag_PFM_DETAIL, 0},
    {"DELTA", &traceFlag_DELTA, 1},
    {"DELTASTAT", &traceFlag_DELTASTAT, 1},
    {"ENCRYPT", &traceFlag_ENCRYPT, 0},
    {"ENCRYPTDETAIL", &traceFlag_ENCRYPTDETAIL, 0},
    {"ACL", &traceFlag_ACL, 0},
    {"PSTAPE", &traceFlag_PSTAPE, 0},
    {"RECOV", &traceFlag_RECOV, 0},
    {"IC49009", &traceFlag_IC49009, 0},
    {"IMAGE_DETAIL", &traceFlag_IMAGE_DETAIL, 0},
    {"IMAGETHREAD", &traceFlag_IMAGETHREAD, 0},
    {"SDB", &traceFlag_SDB, 0},
    {"VERBDETAIL", &traceFlag_VERBDETAIL, 0},
    {"UNICODE", &traceFlag_UNICODE, 0},
    {"CADSCHED", &traceFlag_CADSCHED, 0},
    {"RESTORE", &traceFlag_RESTORE, 0},
    {"PASSWORD", &traceFlag_PASSWORD, 0},
    {"SYSTEMOBJECT", &traceFlag_SYSTEMOBJECT, 0},
    {"JBBSERVICE", &traceFlag_JBBSERVICE, 0},
    {"JBBDAEMON", &traceFlag_JBBDAEMON, 0},
    {"JBBCOMM", &traceFlag_JBBCOMM, 0},
    {"JBBFIFO", &traceFlag_JBBFIFO, 0},
    {"JBBFILEMON", &traceFlag_JBBFILEMON, 0},
    {"JBBFILEMONCSV", &traceFlag_JBBFILEMONCSV, 0},
    {"JBBFSNOTIFY", &traceFlag_JBBFSNOTIFY, 0},
    {"JBBDBACCESS", &traceFlag_JBBDBACCESS, 0},
    {"JBBDBINSERTS", &traceFlag_JBBDBINSERTS, 0},
    {"JBBDBDELETES", &traceFlag_JBBDBDELETES, 0},
    {"JBBQUERY", &traceFlag_JBBQUERY, 0},
    {"JBBNPCOMM", &traceFlag_JBBNPCOMM, 0},
    {"JBBVERBINFO", &traceFlag_JBBVERBINFO, 0},
    {"JBBDBINFO", &traceFlag_JBBDBINFO, 0},
    {"JOURNAL", &traceFlag_JOURNAL, 0},
    {"NAS", &traceFlag_NAS, 0},
    {"NAS_DETAIL", &traceFlag_NAS_DETAIL, 0},
    {"MAC_DETAIL", &traceFlag_MAC_DETAIL, 0},
    {"DISKMAP", &traceFlag_DISKMAP, 0},
    {"DISKMAP_DETAIL", &traceFlag_DISKMAP_DETAIL, 0},
    {"INCLEXCL", &traceFlag_INCLEXCL, 0},
    {"INCLEXCL_DETAIL", &traceFlag_INCLEXCL_DETAIL, 0},
    {"INSTRUMENT", &traceFlag_INSTRUMENT, 0},
    {"EXTRC", &traceFlag_EXTRC, 0},
    {"EXTRC_DETAIL", &traceFlag_EXTRC_DETAIL, 0},
    {"COMGUI", &traceFlag_COMGUI, 0},
    {"SNAPSHOT", &traceFlag_SNAPSHOT, 0},
    {"SNAPSHOT_DETAIL", &traceFlag_SNAPSHOT_DETAIL, 0},
    {"SNAPSHOT_DRIVER", &traceFlag_SNAPSHOT_DRIVER, 0},
    {"SNAPSHOT_DRIVER_DETAIL", &traceFlag_SNAPSHOT_DRIVER_DETAIL, 0},
    {"MEMLEAK", &traceFlag_MEMLEAK, 0},
    {"GROUPS", &traceFlag_GROUPS, 0},
    {"SCHED", &traceFlag_SCHED, 0},
    {"CLUSTER", &traceFlag_CLUSTER, 0},
    {"NODEACCESS", &traceFlag_NODEACCESS, 0},
    {"NAMEDPIPES", &traceFlag_NAMEDPIPES, 0},
    {"FIFO", &traceFlag_FIFO, 0},
    {"DOM", &traceFlag_DOM, 0},
    {"DOM_DETAIL", &traceFlag_DOM_DETAIL, 0},
    {"ZYN", &traceFlag_ZYN, 0},
    {"ZYN_DETAIL", &traceFlag_ZYN_DETAIL, 0},
    {"ZYN_LOG", &traceFlag_ZYN_LOG, 0},
    {"HCI", &traceFlag_HCI, 0},
    {"HCI_DETAIL", &traceFlag_HCI_DETAIL, 0},
    {"HDW", &traceFlag_HDW, 0},
    {"HDW_DETAIL", &traceFlag_HDW_DETAIL, 0},
    {"HWVM", &traceFlag_HWVM, 0},
    {"UTIL", &traceFlag_UTIL, 0},
    {"C2C", &traceFlag_C2C, 0},
    {"SBRM", &traceFlag_SBRM, 0},
    {"LSM", &traceFlag_LSM, 0},
    {"XATTR", &traceFlag_XATTR, 0},
    {"XATTR_DETAIL", &traceFlag_XATTR_DETAIL, 0},
    {"RESTFILECOPY", &traceFlag_RESTFILECOPY, 0},
    {"STATUSLOG", &traceFlag_STATUSLOG, 0},
    {"CACHEDB", &traceFlag_CACHEDB, 0},
    {"BACACHE", &traceFlag_BACACHE, 0},
    {"BACACHEMIGR", &traceFlag_BACACHEMIGR, 0},
    {"DBPERF", &traceFlag_DBPERF, 0},
    {"DBSTATS", &traceFlag_DBSTATS, 0},
    {"BTREEDB", &traceFlag_BTREEDB, 0},
    {"SMWIN", &traceFlag_SMWIN, 0},
    {"EDITOR", &traceFlag_EDITOR, 0},
    {"SMSCOUT", &traceFlag_SMSCOUT, 0},
    {"SMSCOUTDETAIL", &traceFlag_SMSCOUTDETAIL, 0},
    {"SMSCOUTSEARCH", &traceFlag_SMSCOUTSEARCH, 0},
    {"SMSCOUTSEARCHDETAIL", &traceFlag_SMSCOUTSEARCHDETAIL, 0},
    {"SMSCOUTSCAN", &traceFlag_SMSCOUTSCAN, 0},
    {"SMSCOUTSCANDETAIL", &traceFlag_SMSCOUTSCANDETAIL, 0},
    {"SMSCOUTQUERY", &traceFlag_SMSCOUTQUERY, 0},
    {"SMSCOUTQUERYDETAIL", &traceFlag_SMSCOUTQUERYDETAIL, 0},
    {"SMSCOUTCOMM", &traceFlag_SMSCOUTCOMM, 0},
    {"SMSCOUTCOMMDISPATCHER", &traceFlag_SMSCOUTCOMMDISPATCHER, 0},
    {"SMSCOUTCOMMCALLER", &traceFlag_SMSCOUTCOMMCALLER, 0},
    {"SMSCOUTCOMMSOAP", &traceFlag_SMSCOUTCOMMSOAP, 0},
    {"SMSCOUTHASHTABLE", &traceFlag_SMSCOUTHASHTABLE, 0},
    {"SMSCOUTHASHTABLEDETAIL", &traceFlag_SMSCOUTHASHTABLEDETAIL, 0},
    {"SMSIGNALHANDLER", &traceFlag_SMSIGNALHANDLER, 0},
    {"SMRECALL", &traceFlag_SMRECALL, 0},
    {"SMRECALLDETAIL", &traceFlag_SMRECALLDETAIL, 0},
    {"SMRECONCILE", &traceFlag_SMRECONCILE, 0},
    {"SMRECONCILEDETAIL", &traceFlag_SMRECONCILEDETAIL, 0},
    {"SMEXCEPTION", &traceFlag_SMEXCEPTION, 0},
    {"SMAUTOMIG", &traceFlag_SMAUTOMIG, 0},
    {"SMAUTOMIGDETAIL", &traceFlag_SMAUTOMIGDETAIL, 0},
    {"SMXDSM", &traceFlag_SMXDSM, 0},
    {"SMXDSMDETAIL", &traceFlag_SMXDSMDETAIL, 0},
    {"QUERYSTATS", &traceFlag_QUERYSTATS, 0},
    {"SMFSTABLE", &traceFlag_SMFSTABLE, 0},
    {"SMFSTABLEDETAIL", &traceFlag_SMFSTABLEDETAIL, 0},
    {"SMFIO", &traceFlag_SMFIO, 0},
    {"LPM", &traceFlag_LPM, 0},
    {"SNAPDIFFDB", &traceFlag_SNAPDIFFDB, 0},
    {"SNAPDIFFDUMPNAME", &traceFlag_SNAPDIFFDUMPNAME, 0},
    {"FMDBNPDB", &traceFlag_FMDBNPDB, 0},
    {"FMDBFSDB", &traceFlag_FMDBFSDB, 0},
    {"FMDBOBJDB", &traceFlag_FMDBOBJDB, 0},
    {"FMDB", &traceFlag_FMDB, 0},
    {nullptr, nullptr, 0},
};

const TraceAggregate traceAggregateTable[traceAggregateCount + 1] = {
    {"ALL_API", "API API_DETAIL"},
    {"ALL_BACK", "INCR TXN POLICY PFM PFM_DETAIL"},
    {"ALL_COMPRESS", "COMPRESS COMPRESS_DETAIL"},
    {"ALL_CACHEDB", "BACACHE CACHEDB BTREEDB BACACHEMIGR"},
    {"ALL_FILE", "DIROPS FILEOPS FIOATTRIBS OFSFILENAME"},
    {"ALL_IMAGE",
     "IMAGE APPL API API_DETAIL DISKMAP DISKMAP_DETAIL IMAGETHREAD IMAGE_DETAIL SNAPSHOT SNAPSHOT_DETAIL "
     "SNAPSHOT_DRIVER SNAPSHOT_DRIVER_DETAIL"},
    {"ALL_JBB",
     "JBBSERVICE JBBDAEMON JBBFILEMON JBBDBACCESS JBBFSNOTIFY JBBNPCOMM JBBVERBINFO JBBDBINFO JBBCOMM JBBQUERY"},
    {"ALL_FMDB", "FMDBNPDB FMDBFSDB FMDBBAOBJDB FMDB"},
    {"ALL_NAS", "NAS NAS_DETAIL APPL API API_DETAIL"},
    {"ZYNHW", "APPL C2C ZYN DISKMAP HCI HWVM IMAGE SBRM SNAPSHOT UTIL HDW"},
    {"ZYNHW_DETAIL", "ZYNHW ZYN_DETAIL ALL_IMAGE HCI HCI_DETAIL LSM SESSION VERBINFO HDW_DETAIL"},
    {"ALL_PROC", "ALL_BACK ALL_FILE ALL_SESS"},
    {"ALL_SESS", "SESSION VERBINFO SESSVERB VERBADMIN VERBDETAIL C2C"},
    {"ALL_SNAPSHOT", "SNAPSHOT SNAPSHOT_DETAIL SNAPSHOT_DRIVER SNAPSHOT_DRIVER_DETAIL"},
    {"ALL_VSS",
     "VSS OBJENUM ALL_SNAPSHOT SBRM C2C RESTFILECOPY RESTORE UTIL HCI HCI_DETAIL GROUPS DISKMAP DISKMAP_DETAIL WIN2K "
     "LPM"},
    {"DEVELOP", "SERVICE -TIMESTAMP"},
    {"MOBILE", "DELTA ENCRYPT -TIMESTAMP"},
    {"NETWARE", "SMSDEBUG SMS_DETAIL TXN TID"},
    {"OPTIONS", "CONFIG"},
    {"PERFORM", "CONFIG STATS"},
    {"SERVICE",
     "ALL -NLS -COMMDETAIL -COMMFULL -DIRDETAIL -MEMORY -MEMDETAIL -VERBDETAIL -MAC_DETAIL -INCLEXCL_DETAIL "
     "-CLIENTTYPE -PROXY_DETAIL -EXTRC_DETAIL -DEBUG -PFM_DETAIL -VSS_DETAIL -XATTR_DETAIL -IC49009 -BTREEDB -EDITOR "
     "-CACHEDB -DBPERF -EXCLUDECACHE -SMSIGNALHANDLER"},
    {"SCHEDULER", "SERVICE -THREAD_STATUS -PFM -PFM_DETAIL        INCLEXCL_DETAIL"},
    {"SUBFILE", "DELTA DELTASTAT TXN"},
    {"SMALL",
     "SM SMLOG SMVERBOSE SMSIGNALHANDLER SMXDSM SMXDSMDETAIL SMSCOUT SMSCOUTDETAIL SMSCOUTSEARCH SMSCOUTSEARCHDETAIL "
     "SMSCOUTSCAN SMSCOUTSCANDETAIL SMSCOUTQUERY SMSCOUTQUERYDETAIL SMSCOUTCOMM SMSCOUTCOMMDISPATCHER "
     "SMSCOUTCOMMCALLER SMSCOUTCOMMSOAP SMSCOUTHASHTABLE SMSCOUTHASHTABLEDETAIL SMRECONCILE SMRECONCILEDETAIL "
     "SMEXCEPTION SMAUTOMIG SMAUTOMIGDETAIL SMFSTABLE SMFSTABLEDETAIL "},
    {nullptr, nullptr},
};

const char* const traceClientTags[traceClientKinds + 1] = {
    "[Backup CLI]  ", "[Backup GUI]  ", "[Web client]  ", "[Scheduler]   ", "[Journal]     ",
    "[Service]     ", "[Admin CLI]   ", "[Image]       ", "[Restore]     ", "[API client]  ",
    "[Proxy]       ", "[Agent]       ", "[Monitor]     ", "[Unknown]     ",
};
