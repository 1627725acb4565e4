// Stream packets back into the samples the device plays.
#include <algorithm>
#include <cstdio>

#include "vdev/VirtualDevice.h"

namespace vdev {

namespace {

constexpr int kSubPackets = 50;

int PpgSlotCount(std::uint8_t mode) {
    return ((mode & 0x04) ? 1 : 0) + ((mode & 0x08) ? 1 : 0) + ((mode & 0x10) ? 1 : 0);
}

bool CarriesEcg(std::uint8_t mode) {
    return (mode & 0x03) != 0;
}

std::uint16_t Word(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

std::string Problem(std::uint64_t packet, int sub, const char* what, int got, int want) {
    char text[160];
    std::snprintf(text, sizeof text, "packet %llu sub-packet %d: %s (got %d, expected %d)",
                  static_cast<unsigned long long>(packet), sub, what, got, want);
    return text;
}

}  // namespace

int GroupsPerSubPacket(std::uint8_t operateMode) {
    if (operateMode == 0x23) return 4;
    const int parts = PpgSlotCount(operateMode) + (CarriesEcg(operateMode) ? 1 : 0);
    return parts == 0 ? 14 : 14 / parts;
}

StreamDecoder::StreamDecoder(std::vector<std::uint16_t> dcTable) {
    SetDcTable(std::move(dcTable));
}

void StreamDecoder::SetDcTable(std::vector<std::uint16_t> dcTable) {
    if (dcTable.size() != 4001) dcTable = DefaultDcTable();
    m_table = std::move(dcTable);
}

void StreamDecoder::Reset() {
    m_haveSequence = false;
    m_nextSequence = 0;
    m_sampleIndex = 0;
    m_packetIndex = 0;
}

double StreamDecoder::DcMillivolts(std::uint16_t code) const {
    // The table rises with the voltage; entries clamped at the ends of the converter's range
    // repeat one code, and such a code is read as the end of the run nearest to 0 mV.
    const auto run = std::equal_range(m_table.begin(), m_table.end(), code);
    if (run.first != run.second) {
        const int low = static_cast<int>(run.first - m_table.begin());
        const int high = static_cast<int>(run.second - m_table.begin()) - 1;
        return std::clamp(2000, low, high) - 2000.0;
    }
    if (run.first == m_table.begin()) return -2000.0;
    if (run.first == m_table.end()) return 2000.0;
    const int i = static_cast<int>(run.first - m_table.begin()) - 1;
    const int low = m_table[i];
    const int high = m_table[i + 1];
    return i - 2000.0 + static_cast<double>(code - low) / (high - low);
}

bool StreamDecoder::Decode(const std::uint8_t* packet, std::vector<DecodedSample>* out,
                           std::vector<std::string>* errors) {
    const std::size_t errorsBefore = errors->size();
    const std::uint64_t packetNo = m_packetIndex++;
    const std::uint8_t mode = packet[1];
    const bool ecg = CarriesEcg(mode);
    const int slots = mode == 0x23 ? 0 : PpgSlotCount(mode);
    const int expected = GroupsPerSubPacket(mode);

    for (int j = 0; j < kSubPackets; ++j) {
        const std::uint8_t* sub = packet + kSubPacketSize * j;
        if (sub[0] != 0x01) errors->push_back(Problem(packetNo, j, "first byte", sub[0], 1));
        if (sub[1] != mode) errors->push_back(Problem(packetNo, j, "operate mode", sub[1], mode));
        if (sub[2] != 0 || sub[3] != 0) {
            errors->push_back(Problem(packetNo, j, "bytes 2..3 not zero", Word(sub + 2), 0));
        }
        const int groups = sub[5];
        // The stop packet of the respiration layout may declare 14 groups of 4 bytes.
        const bool respirationStop = mode == 0x23 && groups == 14;
        if (groups != expected && !respirationStop) {
            errors->push_back(Problem(packetNo, j, "group count", groups, expected));
        }
        const std::uint16_t sequence = Word(sub + 6);
        if (m_haveSequence && sequence != m_nextSequence && !(j == 0 && sequence == 0)) {
            errors->push_back(Problem(packetNo, j, "sequence number", sequence, m_nextSequence));
        }
        m_haveSequence = true;
        m_nextSequence = static_cast<std::uint16_t>(sequence + 1);

        const bool respiration = mode == 0x23 && !respirationStop;
        const int stride = respiration ? 12 : 4 * (slots + (ecg ? 1 : 0));
        const int fit = stride == 0 ? 0 : 56 / stride;
        const int used = std::min(groups, fit);
        if (groups > fit) errors->push_back(Problem(packetNo, j, "groups do not fit", groups, fit));
        const int marker = sub[4];
        if (marker != 0 && (mode != 3 || marker > groups)) {
            errors->push_back(Problem(packetNo, j, "pacing marker", marker, 0));
        }
        for (int b = 8 + used * stride; b < static_cast<int>(kSubPacketSize); ++b) {
            if (sub[b] != 0) {
                errors->push_back(Problem(packetNo, j, "fill byte not zero at", b, 0));
                break;
            }
        }
        for (int k = 0; k < used; ++k) {
            const std::uint8_t* g = sub + 8 + stride * k;
            DecodedSample s;
            s.index = m_sampleIndex++;
            s.operateMode = mode;
            s.pacing = marker == k + 1;
            int at = 0;
            if (ecg) {
                s.dcCode = Word(g);
                s.acCode = static_cast<std::int16_t>(Word(g + 2));
                s.dcMillivolts = DcMillivolts(s.dcCode);
                s.acMillivolts = s.acCode / 1600.0;
                at = 4;
            }
            if (respiration) {
                s.respiration = true;
                for (int r = 0; r < 4; ++r) s.respirationCodes[r] = Word(g + 4 + 2 * r);
            } else {
                s.ppgSlots = slots;
                for (int p = 0; p < slots; ++p) {
                    s.ppg[p][0] = Word(g + at + 4 * p);
                    s.ppg[p][1] = Word(g + at + 4 * p + 2);
                }
            }
            out->push_back(s);
        }
    }
    return errors->size() == errorsBefore;
}

}  // namespace vdev
