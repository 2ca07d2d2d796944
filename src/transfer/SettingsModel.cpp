#include "transfer/SettingsModel.h"

#include <set>

#include "transfer/Chain.h"
#include "transfer/Settings.h"

namespace tern::transfer {

const char* StateName(SettingState s) {
    switch (s) {
        case SettingState::NotRead: return "not read yet";
        case SettingState::Reading: return "being read";
        case SettingState::InStep: return "as the camera holds it";
        case SettingState::Writing: return "being sent";
        case SettingState::Refused: return "refused by the camera";
        case SettingState::Unknown: return "not known: the camera did not answer";
    }
    return "?";
}

std::optional<Control> ControlOfCommand(const link::Payload& payload) {
    if (payload[1] != link::kGroupWrite) return std::nullopt;
    const CatalogueRow* best = nullptr;
    for (const CatalogueRow& row : CatalogueRows()) {
        if (row.prefixLength < 2 || (best != nullptr && row.prefixLength <= best->prefixLength)) continue;
        bool match = true;
        for (int i = 0; i < row.prefixLength && match; ++i) {
            match = payload[i + 1] == row.prefix[static_cast<std::size_t>(i)];
        }
        if (match) best = &row;
    }
    if (best == nullptr) return std::nullopt;
    return best->control;
}

namespace {

bool IsGrid(Control c) { return c == Control::BLCArea || c == Control::MoArea; }

const Setting* SettingOf(Control c) {
    for (const Setting& s : Settings()) {
        if (s.control == c) return &s;
    }
    return nullptr;
}

/// The value a one-number command carries, in the words `get` prints.
std::optional<std::string> SentWords(Control c, const link::Payload& p) {
    const CatalogueRow& row = RowOf(c);
    const Setting* s = SettingOf(c);
    if (s == nullptr) return std::nullopt;
    const int at = row.prefixLength + 1;
    int v = 0;
    switch (row.encoding) {
        case Encoding::Byte: v = p[at]; break;
        case Encoding::InverseFlag: v = p[at] == 0 ? 1 : 0; break;
        case Encoding::Word: v = p[at] << 8 | p[at + 1]; break;
        default: return std::nullopt;
    }
    ControlUpdate u;
    u.control = std::string(s->name);
    u.value = v;
    u.kind = s->kind == SettingKind::Check ? ControlUpdate::Kind::Check
             : s->kind == SettingKind::Choice ? ControlUpdate::Kind::Index
                                              : ControlUpdate::Kind::Position;
    SettingValues words;
    CollectSettings({u}, words);
    const auto it = words.find(u.control);
    if (it == words.end()) return std::nullopt;
    return it->second;
}

}  // namespace

std::uint64_t SettingsModel::Want(Control c) {
    Entry& e = At(c);
    e.wanted = true;
    e.wantedAt = ++changes_;
    e.state = SettingState::Writing;
    return e.wantedAt;
}

bool SettingsModel::Wanted(Control c) const {
    const Entry* e = Find(c);
    return e != nullptr && e->wanted;
}

void SettingsModel::Sent(const link::Payload& payload, std::optional<std::uint64_t> change) {
    const auto c = ControlOfCommand(payload);
    if (!c) return;
    Entry& e = At(*c);
    e.sentAt = change.value_or(changes_);
    e.state = SettingState::Writing;
}

std::optional<Control> SettingsModel::Answered(const link::Payload& sent, std::uint8_t status) {
    const auto c = ControlOfCommand(sent);
    if (!c) return std::nullopt;
    Entry& e = At(*c);
    const bool newerWaits = e.wanted && e.wantedAt > e.sentAt;
    if (status == link::kStatusAccepted) {
        if (auto words = SentWords(*c, sent)) e.camera = std::move(words);
        if (!newerWaits) {
            e.wanted = false;
            e.state = SettingState::InStep;
        }
        return std::nullopt;
    }
    if (!newerWaits) {
        e.wanted = false;
        e.state = SettingState::Refused;
    }
    return c;
}

void SettingsModel::BeginRead(link::Page page) {
    std::set<int> blocks;
    for (int step = 0;; ++step) {
        const auto r = LoadChainStep(page, step);
        if (!r) break;
        if (r->payload[1] == link::kGroupRead && r->payload[2] == link::kItemBlock) blocks.insert(r->payload[3]);
    }
    for (const Setting& s : Settings()) {
        if (!blocks.contains(s.block)) continue;
        Entry& e = At(s.control);
        if (!e.wanted) e.state = SettingState::Reading;
    }
    reading_ = true;
    ++generation_;
}

void SettingsModel::EndRead() {
    if (!reading_) return;
    reading_ = false;
    ++generation_;
    for (auto& [c, e] : entries_) {
        if (e.state == SettingState::Reading) e.state = e.camera ? SettingState::InStep : SettingState::NotRead;
    }
}

std::vector<Control> SettingsModel::GiveUp(const link::Payload& inFlight) {
    std::vector<Control> unknown;
    ++generation_;
    if (reading_) {
        reading_ = false;
        for (auto& [c, e] : entries_) {
            if (e.state != SettingState::Reading) continue;
            e.state = SettingState::Unknown;
            unknown.push_back(c);
        }
    }
    if (const auto c = ControlOfCommand(inFlight)) {
        Entry& e = At(*c);
        if (e.state == SettingState::Writing && e.wantedAt <= e.sentAt) {
            // Whether the camera took the value is not known; a read shows it again.
            e.wanted = false;
            e.state = SettingState::Unknown;
            unknown.push_back(*c);
        }
    }
    return unknown;
}

bool SettingsModel::Read(const ControlUpdate& u) {
    using UK = ControlUpdate::Kind;
    if (u.kind == UK::Maximum || u.kind == UK::Visible) return true;
    const auto c = ControlByName(u.control);
    if (!c) return true;
    Entry& e = At(*c);
    if (IsGrid(*c)) {
        // One cell a update: the grid's 48 digits, cell 1 first.
        std::string cells = e.camera.value_or(std::string(kGridCells, '0'));
        cells.resize(kGridCells, '0');
        const std::size_t k = u.control.find_first_of("0123456789");
        if (k != std::string::npos) {
            const int cell = std::stoi(u.control.substr(k));
            if (cell >= 1 && cell <= kGridCells) cells[static_cast<std::size_t>(cell - 1)] = u.value != 0 ? '1' : '0';
        }
        e.camera = std::move(cells);
    } else {
        SettingValues words;
        CollectSettings({u}, words);
        if (const auto it = words.find(u.control); it != words.end()) e.camera = it->second;
    }
    if (e.wanted) return false;
    e.state = SettingState::InStep;
    return true;
}

void SettingsModel::DropWanted() {
    ++generation_;
    for (auto& [c, e] : entries_) {
        if (e.wanted || e.state == SettingState::Writing || e.state == SettingState::Reading) {
            e.state = SettingState::Unknown;
        }
        e.wanted = false;
    }
    reading_ = false;
}

const SettingsModel::Entry* SettingsModel::Find(Control c) const {
    const auto it = entries_.find(c);
    return it == entries_.end() ? nullptr : &it->second;
}

SettingState SettingsModel::State(Control c) const {
    const Entry* e = Find(c);
    return e == nullptr ? SettingState::NotRead : e->state;
}

std::optional<std::string> SettingsModel::CameraValue(Control c) const {
    const Entry* e = Find(c);
    if (e == nullptr) return std::nullopt;
    return e->camera;
}

}  // namespace tern::transfer
