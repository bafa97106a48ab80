// The class library the components are written against: components, streams,
// string lists, exceptions, short strings and conversions.
#pragma once

#include "component.h"
#include "exceptions.h"
#include "shortstring.h"
#include "streams.h"
#include "stringlist.h"
#include "sysutils.h"
