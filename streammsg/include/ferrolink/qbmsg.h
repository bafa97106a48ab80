/// @file
/// Unit QBMSG: the listening server and the stream message components.
#pragma once

#include <ferrolink/largeform.h>
#include <ferrolink/qbgeneralserver.h>
#include <ferrolink/qbstrm.h>
#include <ferrolink/qbstrmserv.h>
#include <ferrolink/wireformat.h>
