/* Scalar types, opaque handles and constants of the Oracle client library interface. */
#pragma once
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- scalar types ---- */
typedef unsigned char ub1;
typedef signed char sb1;
typedef unsigned short ub2;
typedef signed short sb2;
typedef unsigned int ub4;
typedef signed int sb4;
typedef unsigned long long ub8;
typedef signed long long sb8;
typedef unsigned long long oraub8;
typedef signed long long orasb8;
typedef int sword;
typedef int eword;
typedef unsigned int uword;
typedef int boolean;
/* Oracle's older spelling `text` is left out: it would collide with ordinary variable names. */
typedef unsigned char OraText;
typedef unsigned char oratext;
typedef sb2 OCIInd;
typedef ub2 OCIDuration;
typedef ub2 OCITypeCode;

#define UB1MAXVAL ((ub1)0xFF)
#define UB2MAXVAL ((ub2)0xFFFF)
#define UB4MAXVAL ((ub4)0xFFFFFFFFU)
#define SB2MAXVAL ((sb2)32767)
#define SB4MAXVAL ((sb4)2147483647)

/* ---- opaque handles and descriptors ---- */
typedef struct OCIEnv OCIEnv;
typedef struct OCIError OCIError;
typedef struct OCISvcCtx OCISvcCtx;
typedef struct OCIStmt OCIStmt;
typedef struct OCIBind OCIBind;
typedef struct OCIDefine OCIDefine;
typedef struct OCIDescribe OCIDescribe;
typedef struct OCIServer OCIServer;
typedef struct OCISession OCISession;
typedef struct OCITrans OCITrans;
typedef struct OCIComplexObject OCIComplexObject;
typedef struct OCISecurity OCISecurity;
typedef struct OCISubscription OCISubscription;
typedef struct OCIDirPathCtx OCIDirPathCtx;
typedef struct OCIDirPathColArray OCIDirPathColArray;
typedef struct OCIDirPathStream OCIDirPathStream;
typedef struct OCISnapshot OCISnapshot;
typedef struct OCIResult OCIResult;
typedef struct OCILobLocator OCILobLocator;
typedef struct OCIParam OCIParam;
typedef struct OCIRowid OCIRowid;
typedef struct OCIDateTime OCIDateTime;
typedef struct OCIInterval OCIInterval;
typedef struct OCIType OCIType;
typedef struct OCIRef OCIRef;
typedef struct OCIString OCIString;
typedef struct OCIRaw OCIRaw;
typedef struct OCIColl OCIColl;
typedef OCIColl OCITable;

#define OCI_NUMBER_SIZE 22
typedef struct OCINumber {
    ub1 OCINumberPart[OCI_NUMBER_SIZE];
} OCINumber;

typedef struct OCITime {
    ub1 OCITimeHH;
    ub1 OCITimeMI;
    ub1 OCITimeSS;
} OCITime;

typedef struct OCIDate {
    sb2 OCIDateYYYY;
    ub1 OCIDateMM;
    ub1 OCIDateDD;
    OCITime OCIDateTime;
} OCIDate;

/* Object cache options; C enums are int-sized in the ABI. */
typedef enum OCIPinOpt {
    OCI_PIN_DEFAULT = 1,
    OCI_PIN_ANY = 3,
    OCI_PIN_RECENT = 4,
    OCI_PIN_LATEST = 5
} OCIPinOpt;

typedef enum OCILockOpt { OCI_LOCK_NONE = 1, OCI_LOCK_X = 2, OCI_LOCK_X_NOWAIT = 3 } OCILockOpt;

typedef enum OCITypeGetOpt { OCI_TYPEGET_HEADER = 0, OCI_TYPEGET_ALL = 1 } OCITypeGetOpt;

/* ---- callbacks ---- */
typedef sb4 (*OCICallbackInBind)(void* in_ctx, OCIBind* bind, ub4 iter, ub4 index, void** buf_out,
                                 ub4* alen_out, ub1* piece_inout, void** ind_out);
typedef sb4 (*OCICallbackOutBind)(void* out_ctx, OCIBind* bind, ub4 iter, ub4 index, void** buf_out,
                                  ub4** alen_out, ub1* piece_inout, void** ind_out,
                                  ub2** rcode_out);
typedef sb4 (*OCICallbackDefine)(void* out_ctx, OCIDefine* dfn, ub4 iter, void** buf_out,
                                 ub4** alen_out, ub1* piece_inout, void** ind_out, ub2** rcode_out);
typedef sb4 (*OCICallbackLobRead)(void* ctx, const void* buf, ub4 len, ub1 piece);
typedef sb4 (*OCICallbackLobWrite)(void* ctx, void* buf, ub4* len_inout, ub1* piece_inout);

/* ---- return codes ---- */
#define OCI_SUCCESS 0
#define OCI_SUCCESS_WITH_INFO 1
#define OCI_RESERVED_FOR_INT_USE 200
#define OCI_NO_DATA 100
#define OCI_ERROR (-1)
#define OCI_INVALID_HANDLE (-2)
#define OCI_NEED_DATA 99
#define OCI_STILL_EXECUTING (-3123)
#define OCI_CONTINUE (-24200)
#define OCI_ROWCBK_DONE (-24201)

/* ---- environment and initialisation modes ---- */
#define OCI_DEFAULT 0x00000000
#define OCI_THREADED 0x00000001
#define OCI_OBJECT 0x00000002
#define OCI_EVENTS 0x00000004
#define OCI_SHARED 0x00000010
#define OCI_NO_UCB 0x00000040
#define OCI_NO_MUTEX 0x00000080
#define OCI_SHARED_EXT 0x00000100
#define OCI_ALWAYS_BLOCKING 0x00000400
#define OCI_USE_LDAP 0x00001000
#define OCI_REG_LDAPONLY 0x00002000
#define OCI_UTF16 0x00004000
#define OCI_AFC_PAD_ON 0x00008000
#define OCI_NEW_LENGTH_SEMANTICS 0x00020000
#define OCI_NO_MUTEX_STMT 0x00040000
#define OCI_MUTEX_ENV_ONLY 0x00080000

/* OCIEnvInit has its own mode values. */
#define OCI_ENV_NO_UCB 0x01
#define OCI_ENV_NO_MUTEX 0x08

/* ---- handle types ---- */
#define OCI_HTYPE_FIRST 1
#define OCI_HTYPE_ENV 1
#define OCI_HTYPE_ERROR 2
#define OCI_HTYPE_SVCCTX 3
#define OCI_HTYPE_STMT 4
#define OCI_HTYPE_BIND 5
#define OCI_HTYPE_DEFINE 6
#define OCI_HTYPE_DESCRIBE 7
#define OCI_HTYPE_SERVER 8
#define OCI_HTYPE_SESSION 9
#define OCI_HTYPE_AUTHINFO OCI_HTYPE_SESSION
#define OCI_HTYPE_TRANS 10
#define OCI_HTYPE_COMPLEXOBJECT 11
#define OCI_HTYPE_SECURITY 12
#define OCI_HTYPE_SUBSCRIPTION 13
#define OCI_HTYPE_DIRPATH_CTX 14
#define OCI_HTYPE_DIRPATH_COLUMN_ARRAY 15
#define OCI_HTYPE_DIRPATH_STREAM 16
#define OCI_HTYPE_PROC 17
#define OCI_HTYPE_CPOOL 26
#define OCI_HTYPE_SPOOL 27
#define OCI_HTYPE_ADMIN 28
#define OCI_HTYPE_EVENT 29

/* ---- descriptor types ---- */
#define OCI_DTYPE_FIRST 50
#define OCI_DTYPE_LOB 50
#define OCI_DTYPE_SNAP 51
#define OCI_DTYPE_RSET 52
#define OCI_DTYPE_PARAM 53
#define OCI_DTYPE_ROWID 54
#define OCI_DTYPE_COMPLEXOBJECTCOMP 55
#define OCI_DTYPE_FILE 56
#define OCI_DTYPE_AQENQ_OPTIONS 57
#define OCI_DTYPE_AQDEQ_OPTIONS 58
#define OCI_DTYPE_AQMSG_PROPERTIES 59
#define OCI_DTYPE_AQAGENT 60
#define OCI_DTYPE_LOCATOR 61
#define OCI_DTYPE_INTERVAL_YM 62
#define OCI_DTYPE_INTERVAL_DS 63
#define OCI_DTYPE_AQNFY_DESCRIPTOR 64
#define OCI_DTYPE_DATE 65
#define OCI_DTYPE_TIME 66
#define OCI_DTYPE_TIME_TZ 67
#define OCI_DTYPE_TIMESTAMP 68
#define OCI_DTYPE_TIMESTAMP_TZ 69
#define OCI_DTYPE_TIMESTAMP_LTZ 70
#define OCI_DTYPE_UCB 71

/* ---- credentials and session modes ---- */
#define OCI_CRED_RDBMS 1
#define OCI_CRED_EXT 2
#define OCI_CRED_PROXY 3
#define OCI_MIGRATE 0x0001
#define OCI_SYSDBA 0x0002
#define OCI_SYSOPER 0x0004
#define OCI_PRELIM_AUTH 0x0008
#define OCI_AUTH 0x0008 /* OCIPasswordChange: also log on */
#define OCI_STMT_CACHE 0x0040
#define OCI_SYSASM 0x8000

/* ---- statement types (OCI_ATTR_STMT_TYPE) ---- */
#define OCI_STMT_UNKNOWN 0
#define OCI_STMT_SELECT 1
#define OCI_STMT_UPDATE 2
#define OCI_STMT_DELETE 3
#define OCI_STMT_INSERT 4
#define OCI_STMT_CREATE 5
#define OCI_STMT_DROP 6
#define OCI_STMT_ALTER 7
#define OCI_STMT_BEGIN 8
#define OCI_STMT_DECLARE 9
#define OCI_STMT_CALL 10
#define OCI_STMT_MERGE 16

/* ---- execute modes ---- */
#define OCI_BATCH_MODE 0x01
#define OCI_EXACT_FETCH 0x02
#define OCI_STMT_SCROLLABLE_READONLY 0x08
#define OCI_DESCRIBE_ONLY 0x10
#define OCI_COMMIT_ON_SUCCESS 0x20
#define OCI_NON_BLOCKING 0x40
#define OCI_BATCH_ERRORS 0x80
#define OCI_PARSE_ONLY 0x100
#define OCI_SHOW_DML_WARNINGS 0x400
#define OCI_RETURN_ROW_COUNT_ARRAY 0x00100000

/* ---- fetch orientation ---- */
#define OCI_FETCH_CURRENT 0x01
#define OCI_FETCH_NEXT 0x02
#define OCI_FETCH_FIRST 0x04
#define OCI_FETCH_LAST 0x08
#define OCI_FETCH_PRIOR 0x10
#define OCI_FETCH_ABSOLUTE 0x20
#define OCI_FETCH_RELATIVE 0x40

/* ---- syntax (OCIStmtPrepare language) ---- */
#define OCI_NTV_SYNTAX 1
#define OCI_V7_SYNTAX 2
#define OCI_V8_SYNTAX 3

/* ---- bind and define modes, pieces, parameter direction ---- */
#define OCI_SB2_IND_PTR 0x01
#define OCI_DATA_AT_EXEC 0x02
#define OCI_DYNAMIC_FETCH 0x02
#define OCI_PIECEWISE 0x04
#define OCI_BIND_SOFT 0x40
#define OCI_DEFINE_SOFT 0x80
#define OCI_IOV 0x200

#define OCI_ONE_PIECE 0
#define OCI_FIRST_PIECE 1
#define OCI_NEXT_PIECE 2
#define OCI_LAST_PIECE 3

#define OCI_PARAM_IN 0x01
#define OCI_PARAM_OUT 0x02

/* ---- transactions ---- */
#define OCI_TRANS_NEW 0x00000001
#define OCI_TRANS_JOIN 0x00000002
#define OCI_TRANS_RESUME 0x00000004
#define OCI_TRANS_READONLY 0x00000100
#define OCI_TRANS_READWRITE 0x00000200
#define OCI_TRANS_SERIALIZABLE 0x00000400
#define OCI_TRANS_LOOSE 0x00010000
#define OCI_TRANS_TIGHT 0x00020000
#define OCI_TRANS_NOMIGRATE 0x00100000
#define OCI_TRANS_SEPARABLE 0x00200000
#define OCI_TRANS_TWOPHASE 0x01000000
#define OCI_TRANS_WRITEBATCH 0x00000001
#define OCI_TRANS_WRITEIMMED 0x00000002
#define OCI_TRANS_WRITEWAIT 0x00000004
#define OCI_TRANS_WRITENOWAIT 0x00000008

/* ---- LOBs, files, describe ---- */
#define OCI_FILE_READONLY 1
#define OCI_LOB_BUFFER_FREE 1
#define OCI_LOB_BUFFER_NOFREE 2
#define OCI_TEMP_BLOB 1
#define OCI_TEMP_CLOB 2
#define OCI_OTYPE_NAME 1
#define OCI_OTYPE_REF 2
#define OCI_OTYPE_PTR 3

#define OCI_PTYPE_UNK 0
#define OCI_PTYPE_TABLE 1
#define OCI_PTYPE_VIEW 2
#define OCI_PTYPE_PROC 3
#define OCI_PTYPE_FUNC 4
#define OCI_PTYPE_PKG 5
#define OCI_PTYPE_TYPE 6
#define OCI_PTYPE_SYN 7
#define OCI_PTYPE_SEQ 8
#define OCI_PTYPE_COL 9
#define OCI_PTYPE_ARG 10
#define OCI_PTYPE_LIST 11
#define OCI_PTYPE_TYPE_ATTR 12
#define OCI_PTYPE_TYPE_COLL 13
#define OCI_PTYPE_TYPE_METHOD 14
#define OCI_PTYPE_TYPE_ARG 15
#define OCI_PTYPE_TYPE_RESULT 16
#define OCI_PTYPE_SCHEMA 17
#define OCI_PTYPE_DATABASE 18

/* ---- objects ---- */
#define OCI_MARK_DEFAULT 1
#define OCI_MARK_NONE OCI_MARK_DEFAULT
#define OCI_MARK_UPDATE 2
#define OCI_REFRESH_LOADED 1
#define OCI_OBJECTFREE_FORCE 0x0001
#define OCI_OBJECTFREE_NONULL 0x0002
#define OCI_DURATION_DEFAULT 8
#define OCI_DURATION_NULL 9
#define OCI_DURATION_BEGIN 10
#define OCI_DURATION_SESSION 10
#define OCI_DURATION_TRANS 11
#define OCI_DURATION_CALL 12
#define OCI_DURATION_STATEMENT 13
#define OCI_IND_NOTNULL 0
#define OCI_IND_NULL (-1)
#define OCI_IND_BADNULL (-2)
#define OCI_IND_NOTNULLABLE (-3)
#define OCI_NUMBER_UNSIGNED 0
#define OCI_NUMBER_SIGNED 2

/* ---- character set forms ---- */
#define SQLCS_IMPLICIT 1
#define SQLCS_NCHAR 2
#define SQLCS_EXPLICIT 3
#define SQLCS_FLEXIBLE 4
#define SQLCS_LIT_NULL 5

/* ---- miscellaneous ---- */
#define OCI_SERVER_NOT_CONNECTED 0
#define OCI_SERVER_NORMAL 1
#define OCI_ERROR_MAXMSG_SIZE 1024
#define OCI_ERROR_MAXMSG_SIZE2 3072
#define OCI_ROWID_LEN 23

/* ---- handle attributes ---- */
#define OCI_ATTR_FNCODE 1
#define OCI_ATTR_OBJECT 2
#define OCI_ATTR_NONBLOCKING_MODE 3
#define OCI_ATTR_SQLCODE 4
#define OCI_ATTR_ENV 5
#define OCI_ATTR_SERVER 6
#define OCI_ATTR_SESSION 7
#define OCI_ATTR_TRANS 8
#define OCI_ATTR_ROW_COUNT 9
#define OCI_ATTR_SQLFNCODE 10
#define OCI_ATTR_PREFETCH_ROWS 11
#define OCI_ATTR_NESTED_PREFETCH_ROWS 12
#define OCI_ATTR_PREFETCH_MEMORY 13
#define OCI_ATTR_NESTED_PREFETCH_MEMORY 14
#define OCI_ATTR_CHAR_COUNT 15
#define OCI_ATTR_PDSCL 16
#define OCI_ATTR_FSPRECISION OCI_ATTR_PDSCL
#define OCI_ATTR_PDPRC 17
#define OCI_ATTR_LFPRECISION OCI_ATTR_PDPRC
#define OCI_ATTR_PARAM_COUNT 18
#define OCI_ATTR_ROWID 19
#define OCI_ATTR_CHARSET 20
#define OCI_ATTR_NCHAR 21
#define OCI_ATTR_USERNAME 22
#define OCI_ATTR_PASSWORD 23
#define OCI_ATTR_STMT_TYPE 24
#define OCI_ATTR_INTERNAL_NAME 25
#define OCI_ATTR_EXTERNAL_NAME 26
#define OCI_ATTR_XID 27
#define OCI_ATTR_TRANS_LOCK 28
#define OCI_ATTR_TRANS_NAME 29
#define OCI_ATTR_HEAPALLOC 30
#define OCI_ATTR_CHARSET_ID 31
#define OCI_ATTR_CHARSET_FORM 32
#define OCI_ATTR_MAXDATA_SIZE 33
#define OCI_ATTR_CACHE_OPT_SIZE 34
#define OCI_ATTR_CACHE_MAX_SIZE 35
#define OCI_ATTR_PINOPTION 36
#define OCI_ATTR_ALLOC_DURATION 37
#define OCI_ATTR_PIN_DURATION 38
#define OCI_ATTR_ROWS_RETURNED 42
#define OCI_ATTR_IN_V8_MODE 44
#define OCI_ATTR_LOBEMPTY 45
#define OCI_ATTR_SESSLANG 46
#define OCI_ATTR_NUM_DML_ERRORS 73
#define OCI_ATTR_DML_ROW_OFFSET 74
#define OCI_ATTR_PARSE_ERROR_OFFSET 129
#define OCI_ATTR_SERVER_STATUS 143
#define OCI_ATTR_STATEMENT 144
#define OCI_ATTR_CURRENT_POSITION 164
#define OCI_ATTR_STMTCACHESIZE 176
#define OCI_ATTR_STMT_STATE 182
#define OCI_ATTR_BIND_COUNT 190
#define OCI_ATTR_ROWS_FETCHED 197
#define OCI_ATTR_STMT_IS_RETURNING 218
#define OCI_ATTR_NCHARSET_ID 262
#define OCI_ATTR_CLIENT_IDENTIFIER 278
#define OCI_ATTR_MODULE 366
#define OCI_ATTR_ACTION 367
#define OCI_ATTR_CLIENT_INFO 368
#define OCI_ATTR_DRIVER_NAME 424
#define OCI_ATTR_UB8_ROW_COUNT 457

/* ---- describe (parameter descriptor) attributes; numbers overlap the handle ones ---- */
#define OCI_ATTR_DATA_SIZE 1
#define OCI_ATTR_DATA_TYPE 2
#define OCI_ATTR_DISP_SIZE 3
#define OCI_ATTR_NAME 4
#define OCI_ATTR_PRECISION 5
#define OCI_ATTR_SCALE 6
#define OCI_ATTR_IS_NULL 7
#define OCI_ATTR_TYPE_NAME 8
#define OCI_ATTR_SCHEMA_NAME 9
#define OCI_ATTR_SUB_NAME 10
#define OCI_ATTR_POSITION 11
#define OCI_ATTR_NUM_COLS 102
#define OCI_ATTR_LIST_COLUMNS 103
#define OCI_ATTR_REF_TDO 110
#define OCI_ATTR_PTYPE 123
#define OCI_ATTR_OBJ_NAME 134
#define OCI_ATTR_OBJ_SCHEMA 135
#define OCI_ATTR_OBJ_ID 136
#define OCI_ATTR_TYPECODE 216
#define OCI_ATTR_COLLECTION_TYPECODE 217
#define OCI_ATTR_CHAR_USED 285
#define OCI_ATTR_CHAR_SIZE 286

/* ---- data type codes ---- */
#define SQLT_CHR 1
#define SQLT_NUM 2
#define SQLT_INT 3
#define SQLT_FLT 4
#define SQLT_STR 5
#define SQLT_VNU 6
#define SQLT_PDN 7
#define SQLT_LNG 8
#define SQLT_VCS 9
#define SQLT_NON 10
#define SQLT_RID 11
#define SQLT_DAT 12
#define SQLT_VBI 15
#define SQLT_BFLOAT 21
#define SQLT_BDOUBLE 22
#define SQLT_BIN 23
#define SQLT_LBI 24
#define SQLT_UIN 68
#define SQLT_SLS 91
#define SQLT_LVC 94
#define SQLT_LVB 95
#define SQLT_AFC 96
#define SQLT_AVC 97
#define SQLT_IBFLOAT 100
#define SQLT_IBDOUBLE 101
#define SQLT_CUR 102
#define SQLT_RDD 104
#define SQLT_LAB 105
#define SQLT_OSL 106
#define SQLT_NTY 108
#define SQLT_REF 110
#define SQLT_CLOB 112
#define SQLT_BLOB 113
#define SQLT_BFILEE 114
#define SQLT_BFILE SQLT_BFILEE
#define SQLT_FILE SQLT_BFILEE
#define SQLT_CFILEE 115
#define SQLT_CFILE SQLT_CFILEE
#define SQLT_RSET 116
#define SQLT_NCO 122
#define SQLT_VST 155
#define SQLT_ODT 156
#define SQLT_DATE 184
#define SQLT_TIME 185
#define SQLT_TIME_TZ 186
#define SQLT_TIMESTAMP 187
#define SQLT_TIMESTAMP_TZ 188
#define SQLT_INTERVAL_YM 189
#define SQLT_INTERVAL_DS 190
#define SQLT_TIMESTAMP_LTZ 232
#define SQLT_PNTY 241

#ifdef __cplusplus
}
#endif
