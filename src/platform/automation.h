// Platform layer, for the automation objects and support/com_access.h, the program's only way in.
//
// The automation runtime: objects driven by member name, in the shape of the system's automation
// services that the tool was first written against (IUnknown, IDispatch, ITypeInfo, ITypeComp,
// VARIANT, VariantChangeType, the class registry, CoCreateInstance, OleRun). Program code reaches
// automation objects only through support/com_access.h.
//
// The runtime comes in four parts, each a header of its own with its contract and thread rules,
// all of which this header includes:
//   platform/automation_result.h    result codes (HRESULT)
//   platform/automation_variant.h   objects (IUnknown), variants and their conversions
//   platform/automation_dispatch.h  type information, member tables and the standard dispatch
//   platform/automation_registry.h  the class registry and creation of objects
//
// Threads and apartments: every thread has its own apartment count (platform/com_apartment.h).
// `CoCreateInstance` and `DispatchObject::Invoke` on a thread that is in no apartment
// (ComApartmentDepth() == 0) fail with CO_E_NOTINITIALIZED and do nothing else. An object is
// meant to be used on the thread that made it; the runtime itself (registry, type information)
// is safe to use from any thread.
#pragma once

#include "platform/automation_dispatch.h"
#include "platform/automation_registry.h"
#include "platform/automation_result.h"
#include "platform/automation_variant.h"
