/* The OCI7 interface: logon/cursor data areas and the OCI7 entry points. */
#pragma once
#include "oci/OciTypes.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The client library writes the whole area, so its size follows the pointer width. */
#if defined(__LP64__) || defined(_WIN64)
#define CDA_SIZE 88
#define HDA_SIZE 512
#define VELNOR_CDA_FILLER 32
#else
#define CDA_SIZE 64
#define HDA_SIZE 256
#define VELNOR_CDA_FILLER 16
#endif

/* Logon (LDA) and cursor (CDA) data areas share one layout. */
struct cda_def {
    sb2 v2_rc; /* V2-compatible return code */
    ub2 ft;    /* SQL function code of the statement */
    ub4 rpc;   /* rows processed, cumulative for a query */
    ub2 peo;   /* parse error offset */
    ub1 fc;    /* OCI function code of the last call */
    ub1 rcs1;
    ub2 rc;  /* Oracle error number of the last call, 0 on success */
    ub1 wrn; /* warning flags */
    ub1 rcs2;
    sword rcs3;
    struct {
        struct {
            ub4 rcs4; /* object number */
            ub2 rcs5; /* file number */
            ub1 rcs6;
        } rd;
        ub4 rcs7; /* block number */
        ub2 rcs8; /* row slot */
    } rid;
    sword ose; /* operating-system error code */
    ub1 chk;
    void* rcsp;
    ub1 rcs9[VELNOR_CDA_FILLER];
};
typedef struct cda_def Cda_Def;
typedef struct cda_def Lda_Def;

#ifdef __cplusplus
static_assert(sizeof(Cda_Def) == CDA_SIZE, "cursor data area size");
static_assert(offsetof(Cda_Def, ft) == 2, "ft offset");
static_assert(offsetof(Cda_Def, rpc) == 4, "rpc offset");
static_assert(offsetof(Cda_Def, peo) == 8, "peo offset");
static_assert(offsetof(Cda_Def, fc) == 10, "fc offset");
static_assert(offsetof(Cda_Def, rc) == 12, "rc offset");
static_assert(offsetof(Cda_Def, wrn) == 14, "wrn offset");
static_assert(offsetof(Cda_Def, ose) == 36, "ose offset");
#else
_Static_assert(sizeof(Cda_Def) == CDA_SIZE, "cursor data area size");
_Static_assert(offsetof(Cda_Def, rc) == 12, "rc offset");
#endif

/* opinit modes */
#define OCI_EV_DEF 0
#define OCI_EV_TSF 1
/* olog modes */
#define OCI_LM_DEF 0
#define OCI_LM_NBL 1

/* OCI function codes written to the fc field */
#define FC_OSQL 2
#define FC_OEXEC 4
#define FC_OBIND 6
#define FC_ODEFIN 8
#define FC_ODSRBN 10
#define FC_OFETCH 12
#define FC_OOPEN 14
#define FC_OCLOSE 16
#define FC_ODSC 22
#define FC_ONAME 24
#define FC_OSQL3 26
#define FC_OBNDRV 28
#define FC_OBNDRN 30
#define FC_OOPT 34
#define FC_OCAN 52
#define FC_OPARSE 54
#define FC_OEXFET 56
#define FC_OFLNG 58
#define FC_ODESCR 60
#define FC_OBNDRA 62
#define FC_OBINDPS 63
#define FC_ODEFINPS 64
#define FC_OGETPI 65
#define FC_OSETPI 66

/* Return codes a caller sees in rc */
#define OCI7_NO_DATA_FOUND 1403
#define OCI7_NULL_VALUE_RETURNED 1405
#define OCI7_VALUE_TRUNCATED 1406
#define OCI7_VAR_NOT_IN_LIST 1007
#define OCI7_INVALID_CURSOR 1001
#define OCI7_FETCH_OUT_OF_SEQUENCE 1002
#define OCI7_WOULD_BLOCK 3123

/* Declares one entry point and its pointer type Fn<name>. */
#define VELNOR_OCI_ENTRY(ret, name, params) \
    typedef ret(*Fn##name) params;          \
    ret name params;

/* OCI7 prototypes X(return type, name, (parameters)); the data area parameters are always
   named lda and cda. ocon / ocof switch autocommit on / off. */
/* clang-format off */
#define VELNOR_OCI7_PROTOTYPES(X) \
    X(sword, opinit, (ub4 mode)) \
    X(sword, olog, (Lda_Def* lda, ub1* hda, OraText* user, sword user_len, OraText* pw, \
        sword pw_len, OraText* conn, sword conn_len, ub4 mode)) \
    X(sword, orlon, (Lda_Def* lda, ub1* hda, OraText* user, sword user_len, OraText* pw, \
        sword pw_len, sword audit)) \
    X(sword, ologof, (Lda_Def* lda)) \
    X(sword, oerhms, (Lda_Def* lda, sb2 rcode, OraText* buf, sword buf_size)) \
    X(sword, oopen, (Cda_Def* cda, Lda_Def* lda, OraText* dbn, sword dbn_len, sword arsize, \
        OraText* uid, sword uid_len)) \
    X(sword, oparse, (Cda_Def* cda, OraText* sql, sb4 sql_len, sword defer, ub4 lngflg)) \
    X(sword, odefin, (Cda_Def* cda, sword pos, ub1* buf, sword buf_len, sword ftype, \
        sword scale, sb2* ind, OraText* fmt, sword fmt_len, sword fmt_type, ub2* rlen, \
        ub2* rcode)) \
    X(sword, oexfet, (Cda_Def* cda, ub4 nrows, sword cancel, sword exact)) \
    X(sword, ofen, (Cda_Def* cda, sword nrows)) \
    X(sword, oflng, (Cda_Def* cda, sword pos, ub1* buf, sb4 buf_len, sword dtype, ub4* ret_len, \
        sb4 offset)) \
    X(sword, oclose, (Cda_Def* cda)) \
    X(sword, odescr, (Cda_Def* cda, sword pos, sb4* dbsize, sb2* dbtype, sb1* name_buf, \
        sb4* name_len_inout, sb4* dsize, sb2* prec, sb2* scale, sb2* nullok)) \
    X(sword, oexec, (Cda_Def* cda)) \
    X(sword, oexn, (Cda_Def* cda, sword iters, sword rowoff)) \
    X(sword, ocom, (Lda_Def* lda)) \
    X(sword, orol, (Lda_Def* lda)) \
    X(sword, ocon, (Lda_Def* lda)) \
    X(sword, ocof, (Lda_Def* lda)) \
    X(sword, obreak, (Lda_Def* lda)) \
    X(sword, obndra, (Cda_Def* cda, OraText* name, sword name_len, ub1* value, sword value_len, \
        sword ftype, sword scale, sb2* ind, ub2* alen, ub2* rcode, ub4 max_elems, \
        ub4* cur_elems, OraText* fmt, sword fmt_len, sword fmt_type)) \
    X(sword, odessp, (Cda_Def* cda, OraText* objname, size_t objname_len, ub1* rsv1, \
        size_t rsv1_len, ub1* rsv2, size_t rsv2_len, ub2* overload, ub2* position, ub2* level, \
        OraText** arg_names, ub2* arg_name_lens, ub2* dtype, ub1* has_default, ub1* in_out, \
        ub4* dtsize, sb2* prec, sb2* scale, ub1* radix, ub4* spare, ub4* array_size_inout))
/* clang-format on */

VELNOR_OCI7_PROTOTYPES(VELNOR_OCI_ENTRY)

#ifdef __cplusplus
}
#endif
