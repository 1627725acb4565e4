// Signal files with their annotations: CSV, WFDB records and EDF/EDF+.
#include "records/RecordFiles.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>

namespace records {
namespace {

constexpr int kSkip = 59;
constexpr int kAux = 63;

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool HasSuffix(const std::string& text, const char* suffix) {
    const std::size_t n = std::strlen(suffix);
    return text.size() >= n && Lower(text.substr(text.size() - n)) == suffix;
}

std::string FileName(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Onset of an EDF+ annotation in seconds, as short as it can be written exactly enough.
std::string Onset(double seconds) {
    char text[40];
    std::snprintf(text, sizeof text, "+%.6f", seconds);
    std::string s = text;
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
    return s;
}

void Put16(std::string* out, unsigned word) {
    out->push_back(static_cast<char>(word & 0xff));
    out->push_back(static_cast<char>((word >> 8) & 0xff));
}

// The first five EDF header fields: version, patient, recording with today's start date, start
// date and start time.
std::string EdfHeaderStart() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    char date[16], time[16], start[32];
    std::strftime(date, sizeof date, "%d.%m.%y", &local);
    std::strftime(time, sizeof time, "%H.%M.%S", &local);
    std::strftime(start, sizeof start, "%d-%b-%Y", &local);
    for (char* c = start; *c != '\0'; ++c)
        *c = static_cast<char>(std::toupper(static_cast<unsigned char>(*c)));
    return Field("0", 8) + Field("X X X X", 80) +
           Field(std::string("Startdate ") + start + " X X tolvan", 80) + Field(date, 8) +
           Field(time, 8);
}

// Annotations sorted by sample (stable: events of one sample keep their order).
std::vector<Annotation> BySample(const std::vector<Annotation>& annotations) {
    std::vector<Annotation> sorted = annotations;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const Annotation& x, const Annotation& y) { return x.sample < y.sample; });
    return sorted;
}

}  // namespace

std::string Field(const std::string& text, std::size_t width) {
    std::string out = text.substr(0, width);
    out.resize(width, ' ');
    return out;
}

std::string Number(double value, std::size_t width) {
    char text[32];
    for (int decimals = 6; decimals >= 0; --decimals) {
        std::snprintf(text, sizeof text, "%.*f", decimals, value);
        if (std::strlen(text) <= width) break;
    }
    return Field(text, width);
}

Kind KindOf(const std::string& path) {
    if (HasSuffix(path, ".hea")) return Kind::kWfdb;
    if (HasSuffix(path, ".edf")) return Kind::kEdf;
    return Kind::kCsv;
}

std::string AnnotationCsvPath(const std::string& path) {
    const std::string base = HasSuffix(path, ".csv") ? path.substr(0, path.size() - 4) : path;
    return base + ".annotations.csv";
}

double WfdbGain(double peak, int format) {
    const double limit = format == 212 ? 2047.0 : 32767.0;
    double gain = format == 212 ? 200.0 : 1000.0;
    if (peak * gain > limit) gain = std::floor(limit / peak);
    return gain >= 1.0 ? gain : 0.0;
}

SignalWriter::~SignalWriter() {
    Discard();
}

void SignalWriter::Discard() {
    if (m_file != nullptr) std::fclose(m_file);
    m_file = nullptr;
    if (m_open && m_kind == Kind::kWfdb) std::remove((m_base + ".dat").c_str());
    if (m_open && m_kind != Kind::kWfdb) std::remove(m_path.c_str());
    m_open = false;
}

bool SignalWriter::Open(const std::string& path, const WriterOptions& options, std::string* error) {
    Discard();
    m_kind = KindOf(path);
    m_path = path;
    m_options = options;
    m_count = m_clipped = 0;
    m_first = m_checksum = m_pending = 0;
    m_low = m_high = 0;
    if (!(options.rate > 0)) {
        *error = path + ": no sample rate";
        return false;
    }
    std::string target = path;
    if (m_kind == Kind::kWfdb) {
        m_base = path.substr(0, path.size() - 4);
        if (FileName(m_base).empty() || (options.format != 16 && options.format != 212) ||
            !(options.gain >= 1.0)) {
            *error = path + ": not a record this writer makes (name, format 16/212, gain)";
            return false;
        }
        target = m_base + ".dat";
        m_file = std::fopen(target.c_str(), "wb");
    } else if (m_kind == Kind::kEdf) {
        if (std::fabs(options.rate - std::round(options.rate)) > 1e-9) {
            *error = path + ": EDF wants a whole sample rate";
            return false;
        }
        // The file is made when finished; until then the samples wait in a temporary file.
        std::ofstream probe(path, std::ios::binary);
        if (probe) m_file = std::tmpfile();
    } else {
        m_file = std::fopen(path.c_str(), "w");
        if (m_file != nullptr) std::fprintf(m_file, "time_s,mV\n");
    }
    if (m_file == nullptr) {
        *error = "cannot write " + target + ": " + std::strerror(errno);
        return false;
    }
    m_open = true;
    return true;
}

bool SignalWriter::SetRate(double rate, std::string* error) {
    if (m_count > 0 || !(rate > 0) ||
        (m_kind == Kind::kEdf && std::fabs(rate - std::round(rate)) > 1e-9)) {
        *error = m_path + ": cannot take the sample rate " + std::to_string(rate);
        return false;
    }
    m_options.rate = rate;
    return true;
}

void SignalWriter::Append(double millivolts) {
    if (!m_open) return;
    if (m_kind == Kind::kCsv) {
        std::fprintf(m_file, "%.6f,%.6f\n", static_cast<double>(m_count) / m_options.rate,
                     millivolts);
    } else if (m_kind == Kind::kEdf) {
        if (m_count == 0 || millivolts < m_low) m_low = millivolts;
        if (m_count == 0 || millivolts > m_high) m_high = millivolts;
        std::fwrite(&millivolts, sizeof millivolts, 1, m_file);
    } else {
        const long limit = m_options.format == 212 ? 2047 : 32767;
        long code = std::lround(millivolts * m_options.gain);
        if (code > limit || code < -limit) {
            code = std::clamp(code, -limit, limit);
            ++m_clipped;
        }
        const int value = static_cast<int>(code);
        if (m_count == 0) m_first = value;
        m_checksum = (m_checksum + value) & 0xffff;
        if (m_options.format == 16) {
            const unsigned word = static_cast<unsigned>(value) & 0xffff;
            const unsigned char bytes[2] = {static_cast<unsigned char>(word & 0xff),
                                            static_cast<unsigned char>(word >> 8)};
            std::fwrite(bytes, 1, 2, m_file);
        } else if (m_count % 2 == 0) {
            m_pending = value;
        } else {
            const unsigned a = static_cast<unsigned>(m_pending) & 0xfff;
            const unsigned b = static_cast<unsigned>(value) & 0xfff;
            const unsigned char bytes[3] = {static_cast<unsigned char>(a & 0xff),
                                            static_cast<unsigned char>((a >> 8) | ((b >> 8) << 4)),
                                            static_cast<unsigned char>(b & 0xff)};
            std::fwrite(bytes, 1, 3, m_file);
        }
    }
    ++m_count;
}

bool SignalWriter::Finish(const std::vector<Annotation>& annotations, std::string* error) {
    if (!m_open) {
        *error = "nothing to write";
        return false;
    }
    if (m_count == 0) {
        Discard();
        *error = "no sample: " + m_path + " not written";
        return false;
    }
    bool ok = true;
    if (m_kind == Kind::kWfdb) {
        ok = FinishWfdb(annotations, error);
    } else if (m_kind == Kind::kEdf) {
        ok = FinishEdf(annotations, error);
    } else {
        ok = std::fclose(m_file) == 0;
        m_file = nullptr;
        if (!ok) *error = "cannot write " + m_path;
        if (ok && m_options.annotations) {
            ok = WriteAnnotationCsv(AnnotationCsvPath(m_path), annotations, error);
        }
    }
    if (m_file != nullptr) std::fclose(m_file);
    m_file = nullptr;
    m_open = false;
    return ok;
}

bool SignalWriter::FinishWfdb(const std::vector<Annotation>& annotations, std::string* error) {
    const int format = m_options.format;
    if (format == 212 && m_count % 2 != 0) {
        const unsigned a = static_cast<unsigned>(m_pending) & 0xfff;
        const unsigned char bytes[3] = {static_cast<unsigned char>(a & 0xff),
                                        static_cast<unsigned char>(a >> 8), 0};
        std::fwrite(bytes, 1, 3, m_file);
    }
    const bool written = std::fclose(m_file) == 0;
    m_file = nullptr;
    if (!written) {
        *error = "cannot write " + m_base + ".dat";
        return false;
    }
    const int checksum = m_checksum >= 0x8000 ? m_checksum - 0x10000 : m_checksum;
    const std::string name = FileName(m_base);
    char line[512];
    std::snprintf(line, sizeof line, "%s 1 %.12g %zu\n%s.dat %d %.12g(0)/mV %d 0 %d %d 0 %s\n",
                  name.c_str(), m_options.rate, m_count, name.c_str(), format, m_options.gain,
                  format == 212 ? 12 : 16, m_first, checksum, m_options.label.c_str());
    std::ofstream hea(m_path);
    hea << line;
    if (!m_options.comment.empty()) hea << "# " << m_options.comment << "\n";
    hea.close();
    if (!hea) {
        *error = "cannot write " + m_path;
        return false;
    }
    if (!m_options.annotations) return true;

    // MIT format: per annotation a 16-bit word, code in the top 6 bits and the samples since
    // the previous one in the low 10; a longer interval goes first in a SKIP; aux text follows
    // its annotation. Annotations without a code of their own are not written.
    std::string atr;
    long previous = 0;
    for (const Annotation& a : BySample(annotations)) {
        if (a.code <= 0 || a.code >= kSkip || a.sample < 0 ||
            a.sample >= static_cast<long>(m_count))
            continue;
        long interval = a.sample - previous;
        if (interval > 1023) {
            Put16(&atr, kSkip << 10);
            const auto skip = static_cast<unsigned long>(interval);
            Put16(&atr, static_cast<unsigned>((skip >> 16) & 0xffff));
            Put16(&atr, static_cast<unsigned>(skip & 0xffff));
            interval = 0;
        }
        Put16(&atr, static_cast<unsigned>(a.code << 10 | interval));
        if (a.code == kNote) {
            std::string aux = a.text.substr(0, 255);
            Put16(&atr, static_cast<unsigned>(kAux << 10 | aux.size()));
            if (aux.size() % 2 != 0) aux.push_back('\0');
            atr += aux;
        }
        previous = a.sample;
    }
    Put16(&atr, 0);
    std::ofstream out(m_base + ".atr", std::ios::binary);
    out.write(atr.data(), static_cast<std::streamsize>(atr.size()));
    out.close();
    if (!out) {
        *error = "cannot write " + m_base + ".atr";
        return false;
    }
    return true;
}

// One-second records of the signal in mV, 16-bit, the last padded with its last value; with
// annotations EDF+C with an "EDF Annotations" signal holding each record's time-keeping TAL and
// the annotations whose sample falls in it.
bool SignalWriter::FinishEdf(const std::vector<Annotation>& annotations, std::string* error) {
    const auto rate = static_cast<std::size_t>(std::lround(m_options.rate));
    const std::size_t records = (m_count + rate - 1) / rate;
    const bool plus = m_options.annotations;
    std::vector<std::string> tals(plus ? records : 0);
    for (std::size_t r = 0; r < tals.size(); ++r) {
        tals[r] = Onset(static_cast<double>(r)) + "\x14\x14";
        tals[r].push_back('\0');
    }
    for (const Annotation& a : plus ? BySample(annotations) : std::vector<Annotation>{}) {
        if (a.sample < 0) continue;
        const auto r = static_cast<std::size_t>(a.sample) / rate;
        if (r >= records) continue;
        tals[r] += Onset(static_cast<double>(a.sample) / m_options.rate) + "\x14" + a.text + "\x14";
        tals[r].push_back('\0');
    }
    std::size_t annotationBytes = 0;
    for (const std::string& t : tals) annotationBytes = std::max(annotationBytes, t.size());
    const std::size_t annotationSamples = (annotationBytes + 1) / 2;

    double low = m_low, high = m_high;
    if (high - low < 1e-3) {
        low -= 0.5;
        high += 0.5;
    }
    const std::string label =
        m_options.label.empty() ? "ECG" : m_options.label;  // EDF+ wants a label
    std::string header = EdfHeaderStart() + Field(std::to_string(256 * (plus ? 3 : 2)), 8) +
                         Field(plus ? "EDF+C" : "", 44) + Field(std::to_string(records), 8) +
                         Field("1", 8) + Field(plus ? "2" : "1", 4);
    auto both = [plus](const std::string& signal, const std::string& annotation,
                       std::size_t width) {
        return Field(signal, width) + (plus ? Field(annotation, width) : std::string());
    };
    header += both(plus ? label : m_options.label, "EDF Annotations", 16);
    header += both("", "", 80) + both("mV", "", 8);
    header += both(Number(low, 8), "-1", 8) + both(Number(high, 8), "1", 8);
    header += both("-32768", "-32768", 8) + both("32767", "32767", 8);
    header += both("", "", 80);
    header += both(std::to_string(rate), std::to_string(annotationSamples), 8);
    header += both("", "", 32);
    // The header rounds the limits to 8 characters: scale with the values it holds.
    const double pmin = std::atof(Number(low, 8).c_str());
    const double pmax = std::atof(Number(high, 8).c_str());

    std::ofstream out(m_path, std::ios::binary);
    out << header;
    std::rewind(m_file);
    std::vector<double> values(rate);
    double last = 0;
    for (std::size_t r = 0; r < records; ++r) {
        const std::size_t got = std::fread(values.data(), sizeof(double), rate, m_file);
        if (got > 0) last = values[got - 1];
        std::string record;
        for (std::size_t i = 0; i < rate; ++i) {
            const double v = i < got ? values[i] : last;
            const double code = std::round((v - pmin) / (pmax - pmin) * 65535.0 - 32768.0);
            Put16(&record, static_cast<unsigned>(
                               static_cast<std::int16_t>(std::clamp(code, -32768.0, 32767.0))) &
                               0xffff);
        }
        if (plus) {
            std::string tal = tals[r];
            tal.resize(annotationSamples * 2, '\0');
            record += tal;
        }
        out.write(record.data(), static_cast<std::streamsize>(record.size()));
    }
    out.close();
    if (!out) {
        *error = "cannot write " + m_path;
        return false;
    }
    return true;
}

bool WriteAnnotationCsv(const std::string& path, const std::vector<Annotation>& annotations,
                        std::string* error) {
    std::FILE* out = std::fopen(path.c_str(), "w");
    if (out == nullptr) {
        *error = "cannot write " + path;
        return false;
    }
    std::fprintf(out, "time_s,sample,annotation,mit_code\n");
    for (const Annotation& a : annotations)
        std::fprintf(out, "%.6f,%ld,%s,%d\n", a.time, a.sample, a.text.c_str(), a.code);
    if (std::fclose(out) != 0) {
        *error = "cannot write " + path;
        return false;
    }
    return true;
}

bool ReadAnnotationCsv(const std::string& path, std::vector<Annotation>* annotations,
                       std::string* error) {
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line)) {
        *error = "cannot read " + path;
        return false;
    }
    const bool hasCode = line.find(",mit_code") != std::string::npos;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::size_t first = line.find(',');
        const std::size_t second = first == std::string::npos ? first : line.find(',', first + 1);
        std::size_t last = hasCode ? line.rfind(',') : line.size();
        if (second == std::string::npos || last == std::string::npos || last < second) {
            *error = path + ": not an annotation line: " + line;
            return false;
        }
        Annotation a;
        a.time = std::atof(line.substr(0, first).c_str());
        a.sample = std::atol(line.substr(first + 1, second - first - 1).c_str());
        a.text = line.substr(second + 1, last - second - 1);
        if (hasCode) a.code = std::atoi(line.substr(last + 1).c_str());
        annotations->push_back(a);
    }
    return true;
}

}  // namespace records
