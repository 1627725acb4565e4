// Lists the annotations of an EDF+ file as EDFlib reads them: "onset_s text" per line, after a
// first line "signals N records M". Exit 1 when EDFlib refuses the file.
#include <edflib.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    edf_hdr_struct hdr{};
    if (edfopen_file_readonly(argv[1], &hdr, EDFLIB_READ_ALL_ANNOTATIONS) != 0) {
        std::fprintf(stderr, "EDFlib refused %s: %d\n", argv[1], hdr.filetype);
        return 1;
    }
    std::printf("signals %d records %lld\n", hdr.edfsignals,
                static_cast<long long>(hdr.datarecords_in_file));
    for (long long i = 0; i < hdr.annotations_in_file; ++i) {
        edf_annotation_struct a{};
        if (edf_get_annotation(hdr.handle, static_cast<int>(i), &a) != 0) return 1;
        std::printf("%.6f %s\n", static_cast<double>(a.onset) / EDFLIB_TIME_DIMENSION,
                    a.annotation);
    }
    edfclose_file(hdr.handle);
    return 0;
}
