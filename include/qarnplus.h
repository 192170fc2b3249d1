#pragma once
/// \file
/// qarnplus: the connection library of the QARN document server.
///
/// Start a server and open a session (f_QARNSVR_LoadLibrary), talk to it through
/// the driver interface (f_QARNDRV_*), have your callbacks run while a request
/// waits (c_QARNPlus_Callback), move parameter records through shared memory
/// (c_QARNPlus_Legpack, c_QARNPlus_Shrmem), use filters that live in the server
/// (c_QARNPlus_FilterEntry), and turn processor faults into exceptions
/// (c_QARNPlus_Exception).

#include "qarnplus/wintypes.h"
#include "qarnplus/export.h"
#include "qarnplus/server.h"
#include "qarnplus/callback.h"
#include "qarnplus/driver.h"
#include "qarnplus/filters.h"
#include "qarnplus/shrmem.h"
#include "qarnplus/records.h"
#include "qarnplus/legpack.h"
#include "qarnplus/exception.h"
