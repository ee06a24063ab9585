/* OCI8 and OCI 8.1 entry points of the client library and of its MTS companion library.
   The prototypes come as X-macro lists X(return type, name, (parameters)); each entry point
   is declared together with its pointer type Fn<name>. The error handle parameter is always
   named err, so generic code can reach it. */
#pragma once
#include "oci/Oci7.h"
#include "oci/OciTypes.h"

/* clang-format off */
/* OCI8, in binding order */
#define VELNOR_OCI8_PROTOTYPES(X) \
    X(sword, OCIInitialize, (ub4 mode, void* ctx, void* (*alloc_fn)(void* ctx, size_t size), \
        void* (*realloc_fn)(void* ctx, void* mem, size_t new_size), void (*free_fn)(void* ctx, \
        void* mem))) \
    X(sword, OCIHandleAlloc, (const void* parent, void** handle_out, const ub4 type, \
        const size_t extra_mem, void** user_mem_out)) \
    X(sword, OCIHandleFree, (void* handle, const ub4 type)) \
    X(sword, OCIDescriptorAlloc, (const void* parent, void** desc_out, const ub4 type, \
        const size_t extra_mem, void** user_mem_out)) \
    X(sword, OCIDescriptorFree, (void* desc, const ub4 type)) \
    X(sword, OCIEnvInit, (OCIEnv** env_out, ub4 mode, size_t extra_mem, void** user_mem_out)) \
    X(sword, OCIServerAttach, (OCIServer* srv, OCIError* err, const OraText* connect, \
        sb4 connect_len, ub4 mode)) \
    X(sword, OCIServerDetach, (OCIServer* srv, OCIError* err, ub4 mode)) \
    X(sword, OCISessionBegin, (OCISvcCtx* svc, OCIError* err, OCISession* sess, ub4 cred_type, \
        ub4 mode)) \
    X(sword, OCISessionEnd, (OCISvcCtx* svc, OCIError* err, OCISession* sess, ub4 mode)) \
    X(sword, OCILogon, (OCIEnv* env, OCIError* err, OCISvcCtx** svc_out, \
        const OraText* username, ub4 username_len, const OraText* password, ub4 password_len, \
        const OraText* connect, ub4 connect_len)) \
    X(sword, OCILogoff, (OCISvcCtx* svc, OCIError* err)) \
    X(sword, OCIPasswordChange, (OCISvcCtx* svc, OCIError* err, const OraText* user_name, \
        ub4 user_name_len, const OraText* old_pw, ub4 old_pw_len, const OraText* new_pw, \
        ub4 new_pw_len, ub4 mode)) \
    X(sword, OCIStmtPrepare, (OCIStmt* stmt, OCIError* err, const OraText* sql, ub4 text_len, \
        ub4 language, ub4 mode)) \
    X(sword, OCIBindByPos, (OCIStmt* stmt, OCIBind** bind, OCIError* err, ub4 position, \
        void* value, sb4 value_size, ub2 ext_type, void* ind, ub2* alen, ub2* rcode, \
        ub4 max_elems, ub4* cur_elems, ub4 mode)) \
    X(sword, OCIBindByName, (OCIStmt* stmt, OCIBind** bind, OCIError* err, const OraText* name, \
        sb4 name_len, void* value, sb4 value_size, ub2 ext_type, void* ind, ub2* alen, \
        ub2* rcode, ub4 max_elems, ub4* cur_elems, ub4 mode)) \
    X(sword, OCIBindObject, (OCIBind* bind, OCIError* err, const OCIType* type, void** obj_ptr, \
        ub4* obj_size, void** ind_ptr, ub4* ind_size)) \
    X(sword, OCIBindDynamic, (OCIBind* bind, OCIError* err, void* in_ctx, \
        OCICallbackInBind in_cb, void* out_ctx, OCICallbackOutBind out_cb)) \
    X(sword, OCIBindArrayOfStruct, (OCIBind* bind, OCIError* err, ub4 value_skip, ub4 ind_skip, \
        ub4 alen_skip, ub4 rcode_skip)) \
    X(sword, OCIStmtGetPieceInfo, (OCIStmt* stmt, OCIError* err, void** handle_out, \
        ub4* htype_out, ub1* in_out, ub4* iter, ub4* index, ub1* piece)) \
    X(sword, OCIStmtSetPieceInfo, (void* handle, ub4 type, OCIError* err, const void* buf, \
        ub4* alen, ub1 piece, const void* ind, ub2* rcode)) \
    X(sword, OCIStmtExecute, (OCISvcCtx* svc, OCIStmt* stmt, OCIError* err, ub4 iters, \
        ub4 rowoff, const OCISnapshot* snap_in, OCISnapshot* snap_out, ub4 mode)) \
    X(sword, OCIDefineByPos, (OCIStmt* stmt, OCIDefine** dfn, OCIError* err, ub4 position, \
        void* value, sb4 value_size, ub2 ext_type, void* ind, ub2* rlen, ub2* rcode, ub4 mode)) \
    X(sword, OCIDefineObject, (OCIDefine* dfn, OCIError* err, const OCIType* type, \
        void** obj_ptr, ub4* obj_size, void** ind_ptr, ub4* ind_size)) \
    X(sword, OCIDefineDynamic, (OCIDefine* dfn, OCIError* err, void* out_ctx, \
        OCICallbackDefine out_cb)) \
    X(sword, OCIDefineArrayOfStruct, (OCIDefine* dfn, OCIError* err, ub4 value_skip, \
        ub4 ind_skip, ub4 rlen_skip, ub4 rcode_skip)) \
    X(sword, OCIStmtFetch, (OCIStmt* stmt, OCIError* err, ub4 nrows, ub2 orientation, \
        ub4 mode)) \
    X(sword, OCIStmtGetBindInfo, (OCIStmt* stmt, OCIError* err, ub4 size, ub4 startloc, \
        sb4* found, OraText* bind_names[], ub1 bind_name_lens[], OraText* ind_names[], \
        ub1 ind_name_lens[], ub1 dup_flags[], OCIBind** bind_handles)) \
    X(sword, OCIDescribeAny, (OCISvcCtx* svc, OCIError* err, void* obj, ub4 obj_len, \
        ub1 obj_kind, ub1 info_level, ub1 obj_type, OCIDescribe* dsc)) \
    X(sword, OCIParamGet, (const void* handle, ub4 htype, OCIError* err, void** param_out, \
        ub4 pos)) \
    X(sword, OCIParamSet, (void* handle, ub4 htype, OCIError* err, const void* param, \
        ub4 dtype, ub4 pos)) \
    X(sword, OCITransStart, (OCISvcCtx* svc, OCIError* err, uword timeout, ub4 flags)) \
    X(sword, OCITransDetach, (OCISvcCtx* svc, OCIError* err, ub4 flags)) \
    X(sword, OCITransCommit, (OCISvcCtx* svc, OCIError* err, ub4 flags)) \
    X(sword, OCITransRollback, (OCISvcCtx* svc, OCIError* err, ub4 flags)) \
    X(sword, OCITransPrepare, (OCISvcCtx* svc, OCIError* err, ub4 flags)) \
    X(sword, OCITransForget, (OCISvcCtx* svc, OCIError* err, ub4 flags)) \
    X(sword, OCIErrorGet, (void* handle, ub4 record, OraText* sqlstate, sb4* errcode, \
        OraText* buf, ub4 buf_size, ub4 type)) \
    X(sword, OCILobAppend, (OCISvcCtx* svc, OCIError* err, OCILobLocator* dst, \
        OCILobLocator* src)) \
    X(sword, OCILobAssign, (OCIEnv* env, OCIError* err, const OCILobLocator* src, \
        OCILobLocator** dst_out)) \
    X(sword, OCILobCharSetForm, (OCIEnv* env, OCIError* err, const OCILobLocator* loc, \
        ub1* cs_form)) \
    X(sword, OCILobCharSetId, (OCIEnv* env, OCIError* err, const OCILobLocator* loc, \
        ub2* cs_id)) \
    X(sword, OCILobCopy, (OCISvcCtx* svc, OCIError* err, OCILobLocator* dst, \
        OCILobLocator* src, ub4 amount, ub4 dst_offset, ub4 src_offset)) \
    X(sword, OCILobDisableBuffering, (OCISvcCtx* svc, OCIError* err, OCILobLocator* loc)) \
    X(sword, OCILobEnableBuffering, (OCISvcCtx* svc, OCIError* err, OCILobLocator* loc)) \
    X(sword, OCILobErase, (OCISvcCtx* svc, OCIError* err, OCILobLocator* loc, ub4* amount, \
        ub4 offset)) \
    X(sword, OCILobFileClose, (OCISvcCtx* svc, OCIError* err, OCILobLocator* file)) \
    X(sword, OCILobFileCloseAll, (OCISvcCtx* svc, OCIError* err)) \
    X(sword, OCILobFileExists, (OCISvcCtx* svc, OCIError* err, OCILobLocator* file, \
        boolean* flag)) \
    X(sword, OCILobFileGetName, (OCIEnv* env, OCIError* err, const OCILobLocator* file, \
        OraText* dir, ub2* dir_len, OraText* filename, ub2* file_len)) \
    X(sword, OCILobFileIsOpen, (OCISvcCtx* svc, OCIError* err, OCILobLocator* file, \
        boolean* flag)) \
    X(sword, OCILobFileOpen, (OCISvcCtx* svc, OCIError* err, OCILobLocator* file, ub1 mode)) \
    X(sword, OCILobFileSetName, (OCIEnv* env, OCIError* err, OCILobLocator** file_inout, \
        const OraText* dir, ub2 dir_len, const OraText* filename, ub2 file_len)) \
    X(sword, OCILobFlushBuffer, (OCISvcCtx* svc, OCIError* err, OCILobLocator* loc, ub4 flag)) \
    X(sword, OCILobGetLength, (OCISvcCtx* svc, OCIError* err, OCILobLocator* loc, \
        ub4* len_out)) \
    X(sword, OCILobIsEqual, (OCIEnv* env, const OCILobLocator* x, const OCILobLocator* y, \
        boolean* equal_out)) \
    X(sword, OCILobLoadFromFile, (OCISvcCtx* svc, OCIError* err, OCILobLocator* dst, \
        OCILobLocator* src_file, ub4 amount, ub4 dst_offset, ub4 src_offset)) \
    X(sword, OCILobLocatorIsInit, (OCIEnv* env, OCIError* err, const OCILobLocator* loc, \
        boolean* init_out)) \
    X(sword, OCILobRead, (OCISvcCtx* svc, OCIError* err, OCILobLocator* loc, ub4* amount_inout, \
        ub4 offset, void* buf, ub4 buf_len, void* ctx, OCICallbackLobRead cb, ub2 cs_id, \
        ub1 cs_form)) \
    X(sword, OCILobTrim, (OCISvcCtx* svc, OCIError* err, OCILobLocator* loc, ub4 newlen)) \
    X(sword, OCILobWrite, (OCISvcCtx* svc, OCIError* err, OCILobLocator* loc, \
        ub4* amount_inout, ub4 offset, void* buf, ub4 buf_len, ub1 piece, void* ctx, \
        OCICallbackLobWrite cb, ub2 cs_id, ub1 cs_form)) \
    X(sword, OCIBreak, (void* handle, OCIError* err)) \
    X(sword, OCIServerVersion, (void* handle, OCIError* err, OraText* buf, ub4 buf_size, \
        ub1 htype)) \
    X(sword, OCIAttrGet, (const void* target, ub4 target_type, void* value, ub4* size_out, \
        ub4 attr, OCIError* err)) \
    X(sword, OCIAttrSet, (void* target, ub4 target_type, void* value, ub4 size, ub4 attr, \
        OCIError* err)) \
    X(sword, OCISvcCtxToLda, (OCISvcCtx* svc, OCIError* err, Lda_Def* lda)) \
    X(sword, OCILdaToSvcCtx, (OCISvcCtx** svc_out, OCIError* err, Lda_Def* lda)) \
    X(sword, OCIResultSetToStmt, (OCIResult* rset, OCIError* err)) \
    X(sword, OCIObjectUnpin, (OCIEnv* env, OCIError* err, void* object)) \
    X(sword, OCIObjectLock, (OCIEnv* env, OCIError* err, void* object)) \
    X(sword, OCIObjectMarkUpdate, (OCIEnv* env, OCIError* err, void* object)) \
    X(sword, OCIObjectUnmark, (OCIEnv* env, OCIError* err, void* object)) \
    X(sword, OCIObjectMarkDelete, (OCIEnv* env, OCIError* err, void* instance)) \
    X(sword, OCIObjectFlush, (OCIEnv* env, OCIError* err, void* object)) \
    X(sword, OCIObjectCopy, (OCIEnv* env, OCIError* err, const OCISvcCtx* svc, void* source, \
        void* null_source, void* target, void* null_target, OCIType* tdo, OCIDuration duration, \
        ub1 option)) \
    X(sword, OCIObjectGetTypeRef, (OCIEnv* env, OCIError* err, void* instance, \
        OCIRef* type_ref)) \
    X(sword, OCIObjectGetObjectRef, (OCIEnv* env, OCIError* err, void* object, \
        OCIRef* object_ref)) \
    X(sword, OCIObjectGetInd, (OCIEnv* env, OCIError* err, void* instance, \
        void** null_struct_out)) \
    X(sword, OCIObjectExists, (OCIEnv* env, OCIError* err, void* instance, \
        boolean* exists_out)) \
    X(sword, OCIObjectIsLocked, (OCIEnv* env, OCIError* err, void* instance, \
        boolean* locked_out)) \
    X(sword, OCIObjectIsDirty, (OCIEnv* env, OCIError* err, void* instance, \
        boolean* dirty_out)) \
    X(sword, OCIObjectRefresh, (OCIEnv* env, OCIError* err, void* object)) \
    X(sword, OCIObjectPinTable, (OCIEnv* env, OCIError* err, const OCISvcCtx* svc, \
        const oratext* schema, ub4 schema_len, const oratext* table_name, ub4 table_name_len, \
        const OCIRef* scope_ref, OCIDuration pin_duration, void** table_out)) \
    X(sword, OCIObjectNew, (OCIEnv* env, OCIError* err, const OCISvcCtx* svc, \
        OCITypeCode typecode, OCIType* tdo, void* table, OCIDuration duration, boolean value, \
        void** instance_out)) \
    X(sword, OCIObjectPin, (OCIEnv* env, OCIError* err, OCIRef* ref, OCIComplexObject* corhdl, \
        OCIPinOpt pin_option, OCIDuration pin_duration, OCILockOpt lock_option, \
        void** object_out)) \
    X(sword, OCIObjectFree, (OCIEnv* env, OCIError* err, void* instance, ub2 flags)) \
    X(sword, OCITypeByName, (OCIEnv* env, OCIError* err, const OCISvcCtx* svc, \
        const oratext* schema, ub4 schema_len, const oratext* type_name, ub4 type_name_len, \
        const oratext* version, ub4 version_len, OCIDuration pin_duration, \
        OCITypeGetOpt get_option, OCIType** tdo_out)) \
    X(sword, OCIObjectGetAttr, (OCIEnv* env, OCIError* err, void* instance, void* null_struct, \
        OCIType* tdo, const oratext** names, const ub4* name_lens, const ub4 name_count, \
        const ub4* indexes, const ub4 index_count, OCIInd* attr_null_out, \
        void** attr_null_struct_out, void** attr_value_out, OCIType** attr_tdo_out)) \
    X(sword, OCIObjectSetAttr, (OCIEnv* env, OCIError* err, void* instance, void* null_struct, \
        OCIType* tdo, const oratext** names, const ub4* name_lens, const ub4 name_count, \
        const ub4* indexes, const ub4 index_count, const OCIInd null_status, \
        const void* attr_null_struct, const void* attr_value)) \
    X(oratext*, OCIStringPtr, (OCIEnv* env, const OCIString* str)) \
    X(sword, OCIStringAssignText, (OCIEnv* env, OCIError* err, const oratext* rhs, ub4 rhs_len, \
        OCIString** lhs)) \
    X(sword, OCINumberFromInt, (OCIError* err, const void* inum, uword inum_length, \
        uword inum_s_flag, OCINumber* number)) \
    X(sword, OCINumberToInt, (OCIError* err, const OCINumber* number, uword rsl_length, \
        uword rsl_flag, void* rsl)) \
    X(sword, OCINumberFromReal, (OCIError* err, const void* rnum, uword rnum_length, \
        OCINumber* number)) \
    X(sword, OCINumberToReal, (OCIError* err, const OCINumber* number, uword rsl_length, \
        void* rsl)) \
    X(sword, OCINumberToText, (OCIError* err, const OCINumber* number, const oratext* fmt, \
        ub4 fmt_length, const oratext* nls_params, ub4 nls_p_length, ub4* buf_size, \
        oratext* buf)) \
    X(sword, OCINumberFromText, (OCIError* err, const oratext* str, ub4 str_length, \
        const oratext* fmt, ub4 fmt_length, const oratext* nls_params, ub4 nls_p_length, \
        OCINumber* number)) \
    X(ub1*, OCIRawPtr, (OCIEnv* env, const OCIRaw* raw)) \
    X(ub4, OCIRawSize, (OCIEnv* env, const OCIRaw* raw)) \
    X(sword, OCIRawAssignBytes, (OCIEnv* env, OCIError* err, const ub1* rhs, ub4 rhs_len, \
        OCIRaw** lhs)) \
    X(sword, OCIRefAssign, (OCIEnv* env, OCIError* err, const OCIRef* source, OCIRef** target)) \
    X(void, OCIRefClear, (OCIEnv* env, OCIRef* ref)) \
    X(boolean, OCIRefIsNull, (OCIEnv* env, const OCIRef* ref)) \
    X(sword, OCIRefFromHex, (OCIEnv* env, OCIError* err, const OCISvcCtx* svc, \
        const oratext* hex, ub4 length, OCIRef** ref)) \
    X(ub4, OCIRefHexSize, (OCIEnv* env, const OCIRef* ref)) \
    X(sword, OCIRefToHex, (OCIEnv* env, OCIError* err, const OCIRef* ref, oratext* hex, \
        ub4* hex_length)) \
    X(sword, OCICollSize, (OCIEnv* env, OCIError* err, const OCIColl* coll, sb4* size)) \
    X(sword, OCICollTrim, (OCIEnv* env, OCIError* err, sb4 trim_num, OCIColl* coll)) \
    X(sb4, OCICollMax, (OCIEnv* env, const OCIColl* coll)) \
    X(sword, OCICollGetElem, (OCIEnv* env, OCIError* err, const OCIColl* coll, sb4 index, \
        boolean* exists, void** elem, void** elemind)) \
    X(sword, OCICollAssignElem, (OCIEnv* env, OCIError* err, sb4 index, const void* elem, \
        const void* elemind, OCIColl* coll)) \
    X(sword, OCICollAppend, (OCIEnv* env, OCIError* err, const void* elem, const void* elemind, \
        OCIColl* coll)) \
    X(sword, OCITableDelete, (OCIEnv* env, OCIError* err, sb4 index, OCITable* tbl)) \
    X(sword, OCICacheFlush, (OCIEnv* env, OCIError* err, const OCISvcCtx* svc, void* ctx, \
        OCIRef* (*get_fn)(void* ctx, ub1* last), OCIRef** ref))

/* OCI 8.1 */
#define VELNOR_OCI81_PROTOTYPES(X) \
    X(sword, OCIEnvCreate, (OCIEnv** env_out, ub4 mode, void* ctx, void* (*alloc_fn)(void* ctx, \
        size_t size), void* (*realloc_fn)(void* ctx, void* mem, size_t new_size), \
        void (*free_fn)(void* ctx, void* mem), size_t extra_mem, void** user_mem_out)) \
    X(sword, OCIDirPathAbort, (OCIDirPathCtx* dp_ctx, OCIError* err)) \
    X(sword, OCIDirPathFinish, (OCIDirPathCtx* dp_ctx, OCIError* err)) \
    X(sword, OCIDirPathPrepare, (OCIDirPathCtx* dp_ctx, OCISvcCtx* svc, OCIError* err)) \
    X(sword, OCIDirPathColArrayEntrySet, (OCIDirPathColArray* dp_cols, OCIError* err, \
        ub4 rownum, ub2 col, ub1* value, ub4 len, ub1 flag)) \
    X(sword, OCIDirPathColArrayToStream, (OCIDirPathColArray* dp_cols, OCIDirPathCtx* dp_ctx, \
        OCIDirPathStream* dp_stream, OCIError* err, ub4 row_count, ub4 rowoff)) \
    X(sword, OCIDirPathLoadStream, (OCIDirPathCtx* dp_ctx, OCIDirPathStream* dp_stream, \
        OCIError* err)) \
    X(sword, OCIDirPathStreamReset, (OCIDirPathStream* dp_stream, OCIError* err)) \
    X(sword, OCIDateTimeToText, (void* handle, OCIError* err, const OCIDateTime* date, \
        const OraText* fmt, ub1 fmt_length, ub1 fsprec, const OraText* lang_name, \
        size_t lang_length, ub4* buf_size, OraText* buf))

/* Entry points an older client may lack; each is bound on its own and its absence costs
   only what it offers. */
#define VELNOR_OPTIONAL_PROTOTYPES(X) \
    X(sword, OCIRowidToChar, (OCIRowid* rowid, OraText* buf, ub2* buf_len, OCIError* err))

/* MTS companion library (liboramts); the result is a DWORD, 0 on success. Parameter lists
   follow Oracle's MTS developer's guide (OraMTSTransTest's is unconfirmed against a header). */
#define VELNOR_MTS_PROTOTYPES(X) \
    X(ub4, OraMTSSvcGet, (OraText* user, OraText* password, OraText* dbname, OCISvcCtx** svc_out, \
        OCIEnv** env_out, ub4 flags)) \
    X(ub4, OraMTSSvcRel, (OCISvcCtx* svc)) \
    X(ub4, OraMTSSvcEnlist, (OCISvcCtx* svc, OCIError* err, void* trans, ub4 flags)) \
    X(ub4, OraMTSSvcEnlistEx, (OCISvcCtx* svc, OCIError* err, void* trans, ub4 flags, \
        char* dbname)) \
    X(boolean, OraMTSTransTest, (void))
/* clang-format on */

#ifdef __cplusplus
extern "C" {
#endif

VELNOR_OCI8_PROTOTYPES(VELNOR_OCI_ENTRY)
VELNOR_OCI81_PROTOTYPES(VELNOR_OCI_ENTRY)
VELNOR_OPTIONAL_PROTOTYPES(VELNOR_OCI_ENTRY)
VELNOR_MTS_PROTOTYPES(VELNOR_OCI_ENTRY)

/* OraMTSSvcGet flags */
#define ORAMTS_CFLG_ALLDEFAULT 0x00000000
#define ORAMTS_CFLG_NOIMPLICIT 0x00000001
#define ORAMTS_CFLG_UNIQUESRVR 0x00000002

#ifdef __cplusplus
}
#endif
