/* Names of the client library entry points, as X-macro lists in binding order.
   Each list applies X(name) to every name of one group; a group is usable only when all
   of its names are present. */
#pragma once

/* clang-format off */
/* OCI7 (20 names) */
#define VELNOR_OCI7_ENTRY_POINTS(X) \
    X(orlon) X(ologof) X(oerhms) X(oopen) \
    X(oparse) X(odefin) X(oexfet) X(ofen) \
    X(oflng) X(oclose) X(odescr) X(oexec) \
    X(oexn) X(ocom) X(orol) X(ocon) \
    X(ocof) X(obreak) X(obndra) X(odessp)

/* Bound only when the OCI7 group is complete. */
#define VELNOR_OLOG_ENTRY_POINTS(X) X(olog)

/* Bound only when olog is present. */
#define VELNOR_OPINIT_ENTRY_POINTS(X) X(opinit)

/* OCI8 (114 names) */
#define VELNOR_OCI8_ENTRY_POINTS(X) \
    X(OCIInitialize) X(OCIHandleAlloc) X(OCIHandleFree) X(OCIDescriptorAlloc) \
    X(OCIDescriptorFree) X(OCIEnvInit) X(OCIServerAttach) X(OCIServerDetach) \
    X(OCISessionBegin) X(OCISessionEnd) X(OCILogon) X(OCILogoff) \
    X(OCIPasswordChange) X(OCIStmtPrepare) X(OCIBindByPos) X(OCIBindByName) \
    X(OCIBindObject) X(OCIBindDynamic) X(OCIBindArrayOfStruct) X(OCIStmtGetPieceInfo) \
    X(OCIStmtSetPieceInfo) X(OCIStmtExecute) X(OCIDefineByPos) X(OCIDefineObject) \
    X(OCIDefineDynamic) X(OCIDefineArrayOfStruct) X(OCIStmtFetch) X(OCIStmtGetBindInfo) \
    X(OCIDescribeAny) X(OCIParamGet) X(OCIParamSet) X(OCITransStart) \
    X(OCITransDetach) X(OCITransCommit) X(OCITransRollback) X(OCITransPrepare) \
    X(OCITransForget) X(OCIErrorGet) X(OCILobAppend) X(OCILobAssign) \
    X(OCILobCharSetForm) X(OCILobCharSetId) X(OCILobCopy) X(OCILobDisableBuffering) \
    X(OCILobEnableBuffering) X(OCILobErase) X(OCILobFileClose) X(OCILobFileCloseAll) \
    X(OCILobFileExists) X(OCILobFileGetName) X(OCILobFileIsOpen) X(OCILobFileOpen) \
    X(OCILobFileSetName) X(OCILobFlushBuffer) X(OCILobGetLength) X(OCILobIsEqual) \
    X(OCILobLoadFromFile) X(OCILobLocatorIsInit) X(OCILobRead) X(OCILobTrim) \
    X(OCILobWrite) X(OCIBreak) X(OCIServerVersion) X(OCIAttrGet) \
    X(OCIAttrSet) X(OCISvcCtxToLda) X(OCILdaToSvcCtx) X(OCIResultSetToStmt) \
    X(OCIObjectUnpin) X(OCIObjectLock) X(OCIObjectMarkUpdate) X(OCIObjectUnmark) \
    X(OCIObjectMarkDelete) X(OCIObjectFlush) X(OCIObjectCopy) X(OCIObjectGetTypeRef) \
    X(OCIObjectGetObjectRef) X(OCIObjectGetInd) X(OCIObjectExists) X(OCIObjectIsLocked) \
    X(OCIObjectIsDirty) X(OCIObjectRefresh) X(OCIObjectPinTable) X(OCIObjectNew) \
    X(OCIObjectPin) X(OCIObjectFree) X(OCITypeByName) X(OCIObjectGetAttr) \
    X(OCIObjectSetAttr) X(OCIStringPtr) X(OCIStringAssignText) X(OCINumberFromInt) \
    X(OCINumberToInt) X(OCINumberFromReal) X(OCINumberToReal) X(OCINumberToText) \
    X(OCINumberFromText) X(OCIRawPtr) X(OCIRawSize) X(OCIRawAssignBytes) \
    X(OCIRefAssign) X(OCIRefClear) X(OCIRefIsNull) X(OCIRefFromHex) \
    X(OCIRefHexSize) X(OCIRefToHex) X(OCICollSize) X(OCICollTrim) \
    X(OCICollMax) X(OCICollGetElem) X(OCICollAssignElem) X(OCICollAppend) \
    X(OCITableDelete) X(OCICacheFlush)

/* OCI 8.1 (9 names), bound only when the OCI8 group is complete. */
#define VELNOR_OCI81_ENTRY_POINTS(X) \
    X(OCIEnvCreate) X(OCIDirPathAbort) X(OCIDirPathFinish) X(OCIDirPathPrepare) \
    X(OCIDirPathColArrayEntrySet) X(OCIDirPathColArrayToStream) X(OCIDirPathLoadStream) X(OCIDirPathStreamReset) \
    X(OCIDateTimeToText)

/* Optional (1 name), each bound whatever the groups say; absence leaves it null. */
#define VELNOR_OPTIONAL_ENTRY_POINTS(X) X(OCIRowidToChar)

/* MTS companion library (5 names). */
#define VELNOR_MTS_ENTRY_POINTS(X) \
    X(OraMTSSvcGet) X(OraMTSSvcRel) X(OraMTSSvcEnlist) X(OraMTSSvcEnlistEx) \
    X(OraMTSTransTest)

/* Every name the client library exports, in binding order. */
#define VELNOR_CLIENT_ENTRY_POINTS(X) \
    VELNOR_OCI7_ENTRY_POINTS(X) \
    VELNOR_OLOG_ENTRY_POINTS(X) \
    VELNOR_OPINIT_ENTRY_POINTS(X) \
    VELNOR_OCI8_ENTRY_POINTS(X) \
    VELNOR_OCI81_ENTRY_POINTS(X) \
    VELNOR_OPTIONAL_ENTRY_POINTS(X)
/* clang-format on */
