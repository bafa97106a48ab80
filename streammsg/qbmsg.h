// Unit QBMSG: the listening server and the stream message components.
#pragma once

#include "qbgeneralserver.h"
#include "qbstrm.h"
#include "qbstrmserv.h"
#include "wireformat.h"
