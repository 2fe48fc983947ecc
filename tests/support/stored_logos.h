#pragma once
// Both programs' stored logo records in one test: each program defines its record under the
// same accessor, so they are compiled here under names of their own.
#include "logo/logo_record.h"

#define LOGO_RECORD_ACCESSOR ListenTunerLogo
#include "targets/listen_tuner/logo_record.cpp"
#undef LOGO_RECORD_ACCESSOR
#define LOGO_RECORD_ACCESSOR DownloadTunerLogo
#include "targets/download_tuner/logo_record.cpp"
#undef LOGO_RECORD_ACCESSOR
