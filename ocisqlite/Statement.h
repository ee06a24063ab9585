// OCI8 statement handles with their bind, define and select-list parameter children.
#pragma once
#include <memory>
#include <vector>

#include "ocisqlite/Cursor.h"
#include "ocisqlite/Handles.h"

namespace velnor::ocisqlite {

class TBindHandle : public THandle {
public:
    TBindHandle(THandle* parent, TBindSpec* bind) : THandle(OCI_HTYPE_BIND, parent), decl(bind) {}
    TBindSpec* decl;
};

class TDefineHandle : public THandle {
public:
    TDefineHandle(THandle* parent, TDefineSpec* define)
        : THandle(OCI_HTYPE_DEFINE, parent), decl(define) {}
    TDefineSpec* decl;
};

// A select-list column as an implicit describe reports it.
class TParam : public THandle {
public:
    TParam(THandle* parent, sql::ColumnInfo column, ub4 position)
        : THandle(OCI_DTYPE_PARAM, parent), info(std::move(column)), position_(position) {}
    void GetAttr(ub4 attr, void* value, ub4* size) override;
    sql::ColumnInfo info;

private:
    ub4 position_;
};

class TStatement : public THandle {
public:
    explicit TStatement(THandle* parent) : THandle(OCI_HTYPE_STMT, parent) {}
    void GetAttr(ub4 attr, void* value, ub4* size) override;
    void SetAttr(ub4 attr, void* value, ub4 size) override;

    void Prepare(std::string sql);
    TBindHandle* HandleFor(TBindSpec& bind);
    TDefineHandle* HandleFor(TDefineSpec& define);
    // Builds the parameter descriptors from the select list.
    void Describe(TConnection& connection);
    [[nodiscard]] TParam* Param(ub4 position) const;

    TCursorCore core;

private:
    std::vector<std::unique_ptr<TBindHandle>> bindHandles_;
    std::vector<std::unique_ptr<TDefineHandle>> defineHandles_;
    std::vector<std::unique_ptr<TParam>> params_;
    bool described_ = false;
    ub4 prefetchRows_ = 1;
    ub4 prefetchMemory_ = 0;
};

}  // namespace velnor::ocisqlite
