/// @file
/// The class library the components are written against: components, streams,
/// string lists, exceptions, short strings and conversions.
#pragma once

#include <ferrolink/component.h>
#include <ferrolink/exceptions.h>
#include <ferrolink/shortstring.h>
#include <ferrolink/streams.h>
#include <ferrolink/stringlist.h>
#include <ferrolink/sysutils.h>
