#pragma once

#include <libical/ical.h>

#include <cstdlib>
#include <memory>

// Owners for what libical's C API hands out: a component, a property, a time zone, and the
// heap strings of the *_r functions. A pointer passed on to libical (added to a component,
// given to a time zone) is released from its holder first.
struct IcalComponentFree
{
    void operator()(icalcomponent *component) const { icalcomponent_free(component); }
};

struct IcalPropertyFree
{
    void operator()(icalproperty *property) const { icalproperty_free(property); }
};

struct IcalTimezoneFree
{
    void operator()(icaltimezone *zone) const { icaltimezone_free(zone, 1); }
};

struct IcalStringFree
{
    void operator()(char *text) const { std::free(text); }
};

using IcalComponentPtr = std::unique_ptr<icalcomponent, IcalComponentFree>;
using IcalPropertyPtr = std::unique_ptr<icalproperty, IcalPropertyFree>;
using IcalTimezonePtr = std::unique_ptr<icaltimezone, IcalTimezoneFree>;
using IcalStringPtr = std::unique_ptr<char, IcalStringFree>;
