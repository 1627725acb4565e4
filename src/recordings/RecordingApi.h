// The loaders behind the exported recording functions. Each returns the code that its
// exported function returns; none takes the API lock (the exported functions do).
#pragma once

#include <vector>

// Text recording (TOLVLoadECGtxt): the number of samples loaded, or -1 .. -7.
int DoLoadECGtxt(const char* path, int channel);
// Channel count and names of a text recording (CheckECGTxtChannel); names may be null.
int DoCheckECGTxtChannel(const char* path, char** names);
// Big-endian binary recording (LoadECGBin).
int DoLoadECGBin(const char* path);
// AHA text and binary recordings, chosen by the path's ending (LoadECGAHA).
int DoLoadECGAHA(const char* path, int channel);
int _DoLoadECGAHAtxt(const char* path, int channel);
int _DoLoadECGAHAecg(const char* path, int channel);
// EDF / EDF+ signal (TOLVLoadECGedf).
int DoLoadECGedf(const char* path, int channel);
// WFDB record signal (TOLVLoadECGdat).
int DoLoadECGdat(const char* headerPath, const char* signalPath, int channel);
// Values as text (DumpRawData).
int DoDumpRawData(const double* values, int count, const char* path);
// Linear interpolation of values (at least one) at `rate` onto the whole rate `target`, over the
// same span (the extension loaders' resampling of a non-whole rate).
std::vector<double> Resample(const std::vector<double>& values, double rate, double target);
