// Platform layer, for builtin_classes.cpp; program code uses it through support/regexp_matcher.h.
//
// The automation object "VBScript.RegExp" over RegExpEngine (platform/regexp_engine.h, which
// describes the dialect), with the objects its "Execute" returns.
//
//   RegExp:          "Pattern" (text), "IgnoreCase", "Global", "Multiline" (booleans, false at
//                    first), "Execute"(subject) -> MatchCollection, "Replace"(subject,
//                    replacement) -> text, "Test"(subject) -> boolean. There is no
//                    "Singleline": a write to it fails with DISP_E_MEMBERNOTFOUND.
//   MatchCollection: "Count", "Item"(index from 0) -> Match.
//   Match:           "Value", "FirstIndex" (UTF-16 units from 0), "Length", "SubMatches".
//   SubMatches:      "Count", "Item"(index from 0) -> the group's text, or an empty variant when
//                    the group took no part in the match.
//
// A collection and its matches share one copy of the subject and the match offsets; a Match or
// SubMatches object is a small view made when asked for, and a text is cut from the subject only
// when read.
//
// Failures are the original object's own codes: a pattern that does not compile fails
// "Execute", "Replace" and "Test" with kRegExpSyntaxError; a search that gives up (match limit,
// see regexp_engine.h) fails them with kRegExpOutOfStack, never with an empty result; an "Item"
// index outside the collection fails with kRegExpInvalidCall.
//
// Threads: a RegExp object serves one thread at a time (its engine has no lock); a collection
// and the objects made from it may be read from several threads at once.
#pragma once

#include "platform/automation.h"

namespace mf::platform {

inline constexpr char16_t kRegExpProgId[] = u"VBScript.RegExp";

inline constexpr HRESULT kRegExpSyntaxError = MakeHresult(0x800A1399);  // error 5017
inline constexpr HRESULT kRegExpOutOfStack = MakeHresult(0x800A001C);   // error 28
inline constexpr HRESULT kRegExpInvalidCall = MakeHresult(0x800A0005);  // error 5

// The class entry for the registry (see BuiltinClasses).
ClassEntry RegExpClass();

}  // namespace mf::platform
