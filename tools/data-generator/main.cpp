// tolvan_data_generator: converts the reference records below a data directory into the blob of
// constant tables that the library embeds.
//
//   tolvan_data_generator <data directory> <output blob>
//
// Every table whose records are all present and of the expected rate and length goes into the
// blob; the others are left out (the library then loads them at run time or plays 0 mV). A
// missing data directory gives an empty blob.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/Text.h"
#include "synthesis/ReferenceRecords.h"
#include "synthesis/TableBlob.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <data directory> <output blob>\n", argv[0]);
        return 2;
    }
    const std::string dataDir = argv[1];
    const char* outPath = argv[2];

    std::vector<std::vector<std::int32_t>> tables(kReferenceTableCount);
    std::vector<tableblob::Source> sources;
    for (int i = 0; i < kReferenceTableCount; ++i) {
        const ReferenceTableLayout& layout = ReferenceTableLayoutOf(static_cast<ReferenceTable>(i));
        std::string why = "no data directory";
        if (dataDir.empty() || !BuildReferenceTable(dataDir, layout, tables[i], &why)) {
            std::printf("tolvan data: %s not built in (%s)\n", layout.name, why.c_str());
            continue;
        }
        std::printf("tolvan data: %s built in, %zu samples at %d Hz\n", layout.name,
                    tables[i].size(), layout.rate);
        sources.push_back({layout.name, &tables[i], static_cast<std::uint32_t>(layout.rate)});
    }

    const std::vector<unsigned char> blob = tableblob::Write(sources);
    if (!WriteFileBinaryData(outPath, blob.data(), static_cast<unsigned int>(blob.size()))) {
        std::fprintf(stderr, "tolvan data: cannot write %s\n", outPath);
        return 1;
    }
    return 0;
}
