// The Oracle access layer: client library loading, errors, sessions and queries.
#pragma once
#include "oracle/client/OciLibrary.h"
#include "oracle/client/OracleError.h"
#include "oracle/client/OracleHome.h"
#include "oracle/query/OracleQuery.h"
#include "oracle/session/OracleSession.h"
#include "oracle/session/SessionPreferences.h"
