// Sierra Wireless's reports: AT!GSTATUS? (the serving cell, its carriers and the
// temperature, as labelled values), AT!LTEINFO? (the LTE serving cell as a table of
// named columns) and AT!NRINFO? (the NR cell, labelled as in AT!GSTATUS?). No manual
// was at hand: the reports label their own values, and their meanings come from those
// labels and from captures of EM74xx/MC74xx, EM7565 and EM919x modules that show one
// value twice. Labels and their order differ between families, and copies of a report
// lay it out in TABs, blanks or one joined line: it is read by its labels alone.
#include <stdio.h>
#include <string.h>
#include <strings.h>

#include "status/reading.h"

namespace {

constexpr size_t sierra_tokens_most = 512;
constexpr int sierra_carriers_most = 4;
// The secondary carriers' labels: EM7565's "SSC<n>", EM919x's "SCC<n>".
constexpr const char* sierra_families[] = {"SSC", "SCC"};

// A report as words: runs of blanks, TABs and line breaks are one blank, and a word
// that ends a label ("chan:", or "bw" before a lone colon) says so; a colon inside a
// word ends a label there ("band:B12").
struct sierra_words {
    const char* text[sierra_tokens_most];
    size_t length[sierra_tokens_most];
    bool label[sierra_tokens_most];
    size_t count;
};

bool sierra_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

void sierra_split(const char* reply, size_t length, sierra_words& words) {
    words.count = 0;
    size_t at = 0;
    while (at < length && words.count < sierra_tokens_most) {
        while (at < length && sierra_blank(reply[at])) ++at;
        if (at == length) break;
        const size_t start = at;
        while (at < length && !sierra_blank(reply[at]) && reply[at] != ':') ++at;
        const bool colon = at < length && reply[at] == ':';
        if (at > start) {
            words.text[words.count] = reply + start;
            words.length[words.count] = at - start;
            words.label[words.count] = colon;
            ++words.count;
        } else if (colon && words.count > 0) {
            words.label[words.count - 1] = true;  // "bw  :"
        }
        if (colon) ++at;
    }
}

bool sierra_word_is(const sierra_words& words, size_t at, const char* word) {
    return at < words.count && words.length[at] == strlen(word) &&
           strncasecmp(words.text[at], word, words.length[at]) == 0;
}

// A word that can stand before the words of a label to make a longer one ("NR5G TAC:"
// is no "TAC:", "NR5G(sub6) Rx0 RSSI (dBm):" no "RSSI (dBm):").
bool sierra_prefix(const sierra_words& words, size_t at) {
    const char* word = words.text[at];
    const size_t length = words.length[at];
    return status_starts(word, length, "NR5G") || status_starts(word, length, "Rx") ||
           status_starts(word, length, "Tx") || status_starts(word, length, "PCC") ||
           status_starts(word, length, "SCC") || status_starts(word, length, "SSC") ||
           status_starts(word, length, "LTE") || status_starts(word, length, "Scell");
}

// Whether the label `label` (words separated by blanks, its colon left out; a word
// "*" stands for any word) stands whole at `at`.
bool sierra_label_at(const sierra_words& words, size_t at, const char* label) {
    // A word that is the value of the label before it is no part of this one.
    const bool value_before = at >= 2 && words.label[at - 2];
    if (at > 0 && !words.label[at - 1] && !value_before && sierra_prefix(words, at - 1)) {
        return false;
    }
    size_t word = at;
    for (const char* part = label; *part != '\0'; ++word) {
        const size_t size = strcspn(part, " ");
        if (word >= words.count) return false;
        const bool any = size == 1 && part[0] == '*';
        if (!any &&
            (words.length[word] != size || strncasecmp(words.text[word], part, size) != 0)) {
            return false;
        }
        const bool last = part[size] == '\0';
        if (words.label[word] != last) return false;
        part += size + (last ? 0 : 1);
    }
    return true;
}

// How many words a label has.
size_t sierra_parts(const char* label) {
    size_t parts = 1;
    for (; *label != '\0'; ++label) parts += *label == ' ' ? 1 : 0;
    return parts;
}

// The index of the value after the label's next whole occurrence from `from`; the
// word count where there is none.
size_t sierra_find(const sierra_words& words, const char* label, size_t from = 0) {
    const size_t parts = sierra_parts(label);
    for (size_t at = from; at + parts < words.count; ++at) {
        if (sierra_label_at(words, at, label)) return at + parts;
    }
    return words.count;
}

// A value as a field of its own; none past the words or where it is a label.
status_fields sierra_value(const sierra_words& words, size_t at) {
    if (at >= words.count || words.label[at]) return status_field_of("", 0);
    return status_field_of(words.text[at], words.length[at]);
}

int64_t sierra_decimal(const sierra_words& words, const char* label) {
    return status_decimal(sierra_value(words, sierra_find(words, label)), 0);
}

int64_t sierra_integer(const sierra_words& words, const char* label) {
    return status_integer(sierra_value(words, sierra_find(words, label)), 0);
}

int64_t sierra_hex(const sierra_words& words, const char* label) {
    return status_hex(sierra_value(words, sierra_find(words, label)), 0);
}

int64_t sierra_band(const sierra_words& words, const char* label) {
    const size_t at = sierra_find(words, label);
    if (at >= words.count || words.label[at]) return status_unknown;
    return status_band_named(words.text[at], words.length[at]);
}

// The highest of a value over every receive path: each "<head> <path> <tail>:" label's
// value, and where `after` is given, the value of the label of that name right after it
// (EM74xx's "PCC RxM RSSI: -84  RSRP (dBm): -110").
int64_t sierra_paths(const sierra_words& words, const char* label, const char* after = nullptr) {
    int64_t best = status_unknown;
    for (size_t at = sierra_find(words, label); at < words.count;
         at = sierra_find(words, label, at)) {
        size_t value = at;
        if (after != nullptr) {
            value =
                sierra_label_at(words, at + 1, after) ? at + 1 + sierra_parts(after) : words.count;
        }
        const int64_t reading = status_decimal(sierra_value(words, value), 0);
        if (reading != status_unknown && (best == status_unknown || reading > best)) best = reading;
    }
    return best;
}

// The NR cell's labels, into the serving cell or the NR leg.
template <typename Into>
void sierra_nr(const sierra_words& words, Into& into) {
    status_set(into.band, sierra_band(words, "NR5G band"));
    status_set(into.bandwidth, sierra_decimal(words, "NR5G dl bw"));
    status_set(into.channel, sierra_integer(words, "NR5G Rx chan"));
    status_set(into.rsrp, sierra_decimal(words, "NR5G RSRP (dBm)"));
    status_set(into.rsrq, sierra_decimal(words, "NR5G RSRQ (dB)"));
    status_set(into.sinr, sierra_decimal(words, "NR5G SINR (dB)"));
}

void sierra_nr_cell(const sierra_words& words, status_record& record, bool serving) {
    if (serving) {
        sierra_nr(words, record);
        status_set(record.tac, sierra_hex(words, "NR5G TAC"));
        status_set(record.cell, sierra_hex(words, "NR5G Cell ID"));
        status_set(record.rssi, sierra_paths(words, "NR5G(sub6) * RSSI (dBm)"));
        return;
    }
    status_carrier leg = record.nr;
    if (!record.nr_known) status_clear_carrier(leg, true);
    sierra_nr(words, leg);
    if (leg.band == status_unknown && leg.channel == status_unknown && leg.rsrp == status_unknown) {
        return;
    }
    record.nr = leg;
    record.nr_known = true;
}

// The labels of one secondary carrier.
struct sierra_scell {
    char state[32];
    char band[32];
    char width[32];
    char channel[32];
    char rssi[32];
    char rsrp[32];  // EM919x's own label; elsewhere "RSRP (dBm):" follows each RSSI
};

// One secondary carrier, where its state says the network configured it (INACTIVE too,
// as Quectel's configured carriers are listed).
void sierra_carrier(status_record& record, const sierra_words& words, const sierra_scell& scell) {
    const status_fields said = sierra_value(words, sierra_find(words, scell.state));
    if (!status_is(said, 0, "ACTIVE") && !status_is(said, 0, "INACTIVE")) return;
    status_carrier* carrier = status_next_carrier(record, false);
    if (carrier == nullptr) return;
    carrier->band = sierra_band(words, scell.band);
    carrier->bandwidth = sierra_decimal(words, scell.width);
    carrier->channel = sierra_integer(words, scell.channel);
    carrier->rssi = sierra_paths(words, scell.rssi);
    carrier->rsrp = sierra_paths(words, scell.rssi, "RSRP (dBm)");
    if (carrier->rsrp == status_unknown) carrier->rsrp = sierra_paths(words, scell.rsrp);
}

void sierra_carriers(status_record& record, const sierra_words& words) {
    // EM74xx: one SCell.
    sierra_carrier(record, words,
                   {"LTE CA state", "LTE Scell band", "LTE Scell bw", "LTE Scell chan",
                    "SCC * RSSI", "SCC * RSRP"});
    // EM7565 (SSC, "chan") and EM919x (SCC, "Rx chan"): up to four.
    for (int n = 1; n <= sierra_carriers_most; ++n) {
        for (const char* family : sierra_families) {
            sierra_scell scell{};
            snprintf(scell.state, sizeof scell.state, "LTE %s%d state", family, n);
            snprintf(scell.band, sizeof scell.band, "LTE %s%d band", family, n);
            snprintf(scell.width, sizeof scell.width, "LTE %s%d bw", family, n);
            snprintf(scell.channel, sizeof scell.channel,
                     family[1] == 'S' ? "LTE %s%d chan" : "LTE %s%d Rx chan", family, n);
            snprintf(scell.rssi, sizeof scell.rssi, "%s%d * RSSI", family, n);
            snprintf(scell.rsrp, sizeof scell.rsrp, "%s%d * RSRP", family, n);
            sierra_carrier(record, words, scell);
        }
    }
}

// The system mode: what the report's cell is.
const char* sierra_mode(const sierra_words& words) {
    const status_fields mode = sierra_value(words, sierra_find(words, "System mode"));
    constexpr const char* modes[][2] = {{"LTE", "lte"},
                                        {"ENDC", "nr5g-nsa"},
                                        {"NR5G", "nr5g-sa"},
                                        {"WCDMA", "umts"},
                                        {"GSM", "gsm"}};
    for (const auto& entry : modes) {
        if (status_is(mode, 0, entry[0])) return entry[1];
    }
    return nullptr;
}

bool sierra_has(const sierra_words& words, const char* tag) {
    for (size_t at = 0; at < words.count; ++at) {
        if (words.label[at] && sierra_word_is(words, at, tag)) return true;
    }
    return false;
}

void sierra_read_gstatus(status_record& record, const char* reply, size_t length) {
    sierra_words words{};
    sierra_split(reply, length, words);
    if (!sierra_has(words, "!GSTATUS")) return;
    status_set(record.temperature, sierra_decimal(words, "Temperature"));
    const char* mode = sierra_mode(words);
    if (mode != nullptr) record.technology = mode;
    const bool standalone = mode != nullptr && strcmp(mode, "nr5g-sa") == 0;
    if (!standalone) {
        status_set(record.band, sierra_band(words, "LTE band"));
        status_set(record.bandwidth, sierra_decimal(words, "LTE bw"));
        status_set(record.channel, sierra_integer(words, "LTE Rx chan"));
        status_set(record.tac, sierra_hex(words, "TAC"));
        status_set(record.cell, sierra_hex(words, "Cell ID"));
        status_set(record.rsrq, sierra_decimal(words, "RSRQ (dB)"));
        status_set(record.sinr, sierra_decimal(words, "SINR (dB)"));
        // Per receive path, the best: the module's own value follows its better path.
        int64_t rssi = sierra_paths(words, "PCC * RSSI");
        int64_t rsrp = sierra_paths(words, "PCC * RSSI", "RSRP (dBm)");
        if (rsrp == status_unknown) rsrp = sierra_paths(words, "PCC * RSRP");
        if (rssi == status_unknown) rssi = sierra_decimal(words, "RSSI (dBm)");
        if (rsrp == status_unknown) rsrp = sierra_decimal(words, "RSRP (dBm)");
        status_set(record.rssi, rssi);
        status_set(record.rsrp, rsrp);
        sierra_carriers(record, words);
    }
    if (mode != nullptr && (standalone || strcmp(mode, "nr5g-nsa") == 0)) {
        sierra_nr_cell(words, record, standalone);
    }
}

// The serving table: "Serving:", its column names, then one value for each.
void sierra_read_lteinfo(status_record& record, const char* reply, size_t length) {
    sierra_words words{};
    sierra_split(reply, length, words);
    size_t at = 0;
    while (at < words.count && !(words.label[at] && sierra_word_is(words, at, "Serving"))) ++at;
    const size_t names = ++at;
    while (at < words.count && !words.label[at] &&
           ((words.text[at][0] >= 'A' && words.text[at][0] <= 'Z') ||
            (words.text[at][0] >= 'a' && words.text[at][0] <= 'z'))) {
        ++at;
    }
    const size_t columns = at - names;
    if (columns == 0 || at + columns > words.count) return;
    for (size_t i = 0; i < columns; ++i) {
        if (words.label[at + i]) return;  // fewer values than names: no LTE cell
    }
    const auto value = [&](const char* name) {
        for (size_t i = 0; i < columns; ++i) {
            if (sierra_word_is(words, names + i, name)) return sierra_value(words, at + i);
        }
        return status_field_of("", 0);
    };
    const status_fields mcc = value("MCC");
    const status_fields mnc = value("MNC");
    if (mcc.length[0] > 0 && mnc.length[0] > 0) {
        status_code_pair(record, mcc.text[0], mcc.length[0], mnc.text[0], mnc.length[0]);
    }
    status_set(record.channel, status_integer(value("EARFCN"), 0));
    status_set(record.tac, status_integer(value("TAC"), 0));
    status_set(record.cell, status_hex(value("CID"), 0));
    status_set(record.band, status_integer(value("Bd"), 0));
    status_set(record.pci, status_integer(value("PCI"), 0));
    status_set(record.rsrq, status_decimal(value("RSRQ"), 0));
    status_set(record.rsrp, status_decimal(value("RSRP"), 0));
    status_set(record.rssi, status_decimal(value("RSSI"), 0));
    // Where AT!GSTATUS? gave none: its bandwidth and SINR are the finer.
    if (record.bandwidth == status_unknown) {
        record.bandwidth = status_value(value("D"), 0, status_as::lte_width, nullptr);
    }
    if (record.sinr == status_unknown) record.sinr = status_decimal(value("SNR"), 0);
}

void sierra_read_nrinfo(status_record& record, const char* reply, size_t length) {
    sierra_words words{};
    sierra_split(reply, length, words);
    if (!sierra_has(words, "!NRINFO")) return;
    const status_fields mode = sierra_value(words, sierra_find(words, "Connectivity Mode"));
    const char* now = record.technology != nullptr ? record.technology : "";
    bool serving = strcmp(now, "nr5g-sa") == 0;
    if (strcmp(now, "nr5g-sa") != 0 && strcmp(now, "nr5g-nsa") != 0) {
        if (status_is(mode, 0, "SA")) {
            serving = true;
            record.technology = "nr5g-sa";
        } else if (status_is(mode, 0, "NSA")) {
            record.technology = "nr5g-nsa";
        } else {
            return;
        }
    }
    sierra_nr_cell(words, record, serving);
}

constexpr status_command status_sierra[] = {
    {"AT!GSTATUS?", sierra_read_gstatus},
    {"AT!LTEINFO?", sierra_read_lteinfo},
    {"AT!NRINFO?", sierra_read_nrinfo},
};

}  // namespace

size_t status_sierra_commands(const status_command*& commands) {
    commands = status_sierra;
    return status_count(status_sierra);
}
