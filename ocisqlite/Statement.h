// A statement handle.
#pragma once
#include "ocisqlite/Handles.h"

namespace velnor::ocisqlite {

class TStatement : public THandle {
public:
    explicit TStatement(THandle* parent) : THandle(OCI_HTYPE_STMT, parent) {}
};

}  // namespace velnor::ocisqlite
