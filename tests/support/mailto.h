// The decoders of what a composer is handed, for the process tests and the
// attack harness (src/testing/mailto.h, which the unit tests use too).
#pragma once

#include "testing/mailto.h"

namespace harness {

using testing_support::argumentMismatch;
using testing_support::argumentsMismatch;
using testing_support::DecodedUri;
using testing_support::decodeComposeFields;
using testing_support::decodeDraftFile;
using testing_support::decodeMailto;
using testing_support::ExpectedDraft;

}  // namespace harness
