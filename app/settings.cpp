// Profile values and the INI file behind them.
#include "app/settings.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <sys/stat.h>
#include <vector>

#include "run/worker_count.h"

namespace zud {

namespace {

const char* const kSection = "params";

std::string trim(const std::string& s)
{
    std::size_t a = 0, b = s.size();
    while (a < b && std::isspace(static_cast<unsigned char>(s[a])))
        ++a;
    while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1])))
        --b;
    return s.substr(a, b - a);
}

int digit_value(char c, int base)
{
    const int value = c >= '0' && c <= '9' ? c - '0'
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                             : 99;
    return value < base ? value : -1;
}

// Values are written as the window's earlier toolkit profile wrote them,
// so that a profile from either front end, old or new, reads the same: a
// value holding ',', ';', '=', a control character or a blank at either
// end is quoted, '\' and '"' are escaped, and a leading '@' is doubled.
// Other values are written as they are, which is how the console always
// wrote them.
std::string quote_value(const std::string& value)
{
    bool quoted = !value.empty() && (value.front() == ' ' || value.back() == ' ');
    std::string body = value.compare(0, 1, "@") == 0 ? "@" : "";
    bool after_code = false;   // a hexadecimal digit there would lengthen the code
    for (const char c : value) {
        const auto u = static_cast<unsigned char>(c);
        if (c == ',' || c == ';' || c == '=' || u < 0x20 || u == 0x7f)
            quoted = true;
        if (c == '\\' || c == '"') {
            body += '\\';
            body += c;
            after_code = false;
        } else if (u < 0x20 || u == 0x7f || (after_code && digit_value(c, 16) >= 0)) {
            static const char hex[] = "0123456789abcdef";
            body += "\\x";
            body += hex[u >> 4];
            body += hex[u & 15];
            after_code = true;
        } else {
            body += c;
            after_code = false;
        }
    }
    return quoted ? '"' + body + '"' : body;
}

// The escapes: \\ \" \' \? \a \b \f \n \r \t \v, \x and hexadecimal
// digits, \ and octal digits.
std::string unescape(const std::string& text)
{
    static const char named[] = "\\\\\"\"''??a\ab\bf\fn\nr\rt\tv\v";
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char c = text[++i];
        if (c == 'x' || digit_value(c, 8) >= 0) {
            const int base = c == 'x' ? 16 : 8;
            std::size_t j = c == 'x' ? i + 1 : i;
            unsigned code = 0;
            for (; j < text.size() && digit_value(text[j], base) >= 0; ++j)
                code = code * base + digit_value(text[j], base);
            out += static_cast<char>(code);
            i = j - 1;
            continue;
        }
        std::size_t k = 0;
        while (named[k] != 0 && named[k] != c)
            k += 2;
        out += named[k] != 0 ? named[k + 1] : c;
    }
    return out;
}

// A quoted value is unescaped. An unquoted one is too when each of its
// backslashes starts "\\" or "\"", as the window wrote a path holding
// backslashes; any other backslash is the console's own, kept as it is.
std::string read_value(const std::string& text)
{
    std::string value;
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
        value = unescape(text.substr(1, text.size() - 2));
    } else {
        for (std::size_t i = 0; i < text.size(); ++i)
            if (text[i] == '\\' && (i + 1 == text.size() || (text[++i] != '\\' && text[i] != '"')))
                return text;
        value = unescape(text);
    }
    return value.compare(0, 2, "@@") == 0 ? value.substr(1) : value;
}

// Creates every missing directory of the chain leading to `path`.
void make_parent_directories(const std::string& path)
{
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
        ::mkdir(path.substr(0, slash).c_str(), 0755);
}

class IniProfile : public Profile {
public:
    explicit IniProfile(std::string path) : path_(std::move(path)) { load(); }

    std::string get_string(const std::string& key, const std::string& fallback) override
    {
        auto it = values_.find(key);
        return it == values_.end() ? fallback : it->second;
    }
    int get_int(const std::string& key, int fallback) override
    {
        auto it = values_.find(key);
        if (it == values_.end())
            return fallback;
        return std::atoi(it->second.c_str());
    }
    void set_string(const std::string& key, const std::string& value) override
    {
        values_[key] = value;
        changed_[key] = value;
    }
    void set_int(const std::string& key, int value) override { set_string(key, std::to_string(value)); }

    // Only what was set here is written over the file as it is now: the
    // window and a console may both have the profile open, and neither
    // undoes the other's choices.
    bool save() override
    {
        values_.clear();
        others_.clear();
        load();
        for (const auto& [key, value] : changed_)
            values_[key] = value;
        std::ostringstream out;
        for (const Section& s : others_) {
            out << "[" << s.name << "]\n";
            for (const std::string& line : s.lines)
                out << line << "\n";
            out << "\n";
        }
        out << "[" << kSection << "]\n";
        for (const auto& [key, value] : values_)
            out << key << "=" << quote_value(value) << "\n";
        make_parent_directories(path_);
        std::ofstream file(path_, std::ios::trunc);
        file << out.str();
        if (!file.flush())
            return false;
        changed_.clear();
        return true;
    }

private:
    struct Section {
        std::string name;
        std::vector<std::string> lines;
    };

    void load()
    {
        std::ifstream file(path_);
        std::string line;
        std::string current;
        while (std::getline(file, line)) {
            const std::string t = trim(line);
            if (t.empty() || t[0] == ';' || t[0] == '#')
                continue;
            if (t.front() == '[' && t.back() == ']') {
                current = t.substr(1, t.size() - 2);
                if (current != kSection)
                    others_.push_back({current, {}});
                continue;
            }
            if (current != kSection) {
                if (!others_.empty())
                    others_.back().lines.push_back(line);
                continue;
            }
            const std::size_t eq = t.find('=');
            if (eq != std::string::npos)
                values_[trim(t.substr(0, eq))] = read_value(trim(t.substr(eq + 1)));
        }
    }

    std::string path_;
    std::map<std::string, std::string> values_;
    std::map<std::string, std::string> changed_;   // since the last save
    std::vector<Section> others_;
};

}  // namespace

std::string config_folder()
{
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/')
        return xdg;
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : ".") + "/.config";
}

std::string profile_path()
{
    return config_folder() + "/zudsieve.ini";
}

std::unique_ptr<Profile> open_ini_profile(const std::string& path)
{
    return std::make_unique<IniProfile>(path);
}

int status_choice_from_profile(Profile& profile)
{
    const int choice = profile.get_int("statusval", 0);
    return choice < 0 || choice > 2 ? 0 : choice;
}

double alpha_from_profile(Profile& profile)
{
    const double alpha = std::atof(profile.get_string("factor", "").c_str());
    // Written so that "nan" fails too, and never reaches the engine.
    return alpha >= 0.1 && alpha <= 10 ? alpha : 2.5;
}

PriorityClass priority_from_profile(Profile& profile)
{
    const std::string text = profile.get_string("priority", "");
    if (!text.empty() && text[0] == 'H')
        return PriorityClass::high;
    if (!text.empty() && text[0] == 'I')
        return PriorityClass::idle;
    return PriorityClass::normal;
}

int workers_from_profile(Profile& profile, int processors)
{
    return usable_workers(profile.get_int("workers", 0), processors);
}

void save_settings(Profile& profile, double alpha, int status_choice, PriorityClass cls)
{
    profile.set_string("factor", format_alpha(alpha));
    profile.set_int("statusval", status_choice);
    profile.set_string("priority", cls == PriorityClass::high ? "H" : cls == PriorityClass::normal ? "N" : "I");
    profile.save();
}

std::string format_alpha(double alpha)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.3f", alpha);
    return text;
}

std::string format_placement(const Placement& placement)
{
    std::ostringstream out;
    out << placement.x << ' ' << placement.y << ' ' << placement.width << ' ' << placement.height
        << (placement.maximized ? " max" : "");
    return out.str();
}

std::optional<Placement> parse_placement(const std::string& text)
{
    std::istringstream in(text);
    Placement placement;
    if (!(in >> placement.x >> placement.y >> placement.width >> placement.height))
        return std::nullopt;
    std::string rest;
    if (in >> rest) {
        if (rest != "max")
            return std::nullopt;
        placement.maximized = true;
        if (in >> rest)
            return std::nullopt;
    }
    if (placement.width < 50 || placement.height < 50 || placement.width > 100000 || placement.height > 100000)
        return std::nullopt;
    return placement;
}

std::optional<double> accept_alpha(const std::string& entry)
{
    const std::string text = entry.substr(0, 1023);
    // Only decimal numbers count (no hexadecimal, no "inf" or "nan"), as
    // the number rule of the dialog says; strtod then gives the value.
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    const std::size_t number_start = i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    std::size_t digits = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])))
        ++i, ++digits;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])))
            ++i, ++digits;
    }
    if (digits == 0)
        return std::nullopt;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-'))
            ++j;
        std::size_t exponent_digits = 0;
        while (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j])))
            ++j, ++exponent_digits;
        if (exponent_digits > 0)
            i = j;
    }
    if (i != text.size())
        return std::nullopt;
    const double value = std::strtod(text.c_str() + number_start, nullptr);
    if (!(value >= 0.01 && value <= 9.99))
        return std::nullopt;
    return value;
}

}  // namespace zud
