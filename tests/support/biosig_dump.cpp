// Prints one channel of a file as biosig decodes it, for the cross-checks of the recording
// loaders (tests/python/test_biosig_crosscheck.py, tests/recordings/edf_ex_test.cpp): the
// channel's own rate on the first line, then its
// samples in physical units, one a line. Every channel is read (biosig 2.5 crashes on some
// files when channels are switched off) and the channel is taken at its own rate.
//   biosig_dump FILE CHANNEL
// Exit code 0; 2 wrong arguments; 3 biosig refuses the file (its message on stderr).
#include <biosig.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    const long channel = std::strtol(argv[2], nullptr, 10);
    HDRTYPE* hdr = sopen(argv[1], "r", nullptr);
    if (hdr == nullptr) return 3;
    int rc = 0;
    if (serror2(hdr) != 0) {
        std::fprintf(stderr, "%s\n", biosig_get_errormsg(hdr));
        rc = 3;
    } else if (channel < 0 || channel >= biosig_get_number_of_channels(hdr)) {
        rc = 2;
    } else {
        const size_t records = biosig_get_number_of_records(hdr);
        sread(nullptr, 0, records, hdr);
        biosig_data_type* data = nullptr;
        size_t rows = 0, columns = 0;
        biosig_get_datablock(hdr, &data, &rows, &columns);
        CHANNEL_TYPE* c = biosig_get_channel(hdr, static_cast<int>(channel));
        const size_t own = biosig_channel_get_samples_per_record(c);
        const size_t every = own > 0 && hdr->SPR % own == 0 ? hdr->SPR / own : 1;
        std::printf("%.17g\n", biosig_get_samplerate(hdr) / static_cast<double>(every));
        for (size_t i = 0; i < rows; i += every)
            std::printf("%.17g\n", data[static_cast<size_t>(channel) * rows + i]);
    }
    sclose(hdr);
    destructHDR(hdr);
    return rc;
}
