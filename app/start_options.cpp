// The data folder and the command line's answers.
#include "app/start_options.h"

#include <climits>
#include <sys/stat.h>
#include <unistd.h>

#include "data/file_io.h"

namespace zud {

namespace {

bool exists(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

bool names_a_data_file(const std::string& text)
{
    return text.find(kCandidateFileName) != std::string::npos || text.find(kStatusFileName) != std::string::npos;
}

// The folder as the program then works in it, when it can.
std::optional<DataFolder> enter(const std::string& folder)
{
    if (!folder_unusable(folder).empty())
        return std::nullopt;
    return DataFolder(full_folder_path(folder));
}

}  // namespace

bool folder_has_data(const std::string& folder)
{
    return exists(folder + "/" + kCandidateFileName) || exists(folder + "/" + kStatusFileName);
}

DataFolder settle_data_folder(Profile& profile, FolderChooser* chooser)
{
    const std::string here = current_folder();
    if (folder_has_data(here))
        return {};
    const std::string remembered = profile.get_string("folder", "");
    if (!remembered.empty() && folder_has_data(remembered))
        if (const std::optional<DataFolder> folder = enter(remembered))
            return *folder;
    if (chooser == nullptr)
        return {};
    const std::optional<std::string> chosen = chooser->choose(remembered.empty() ? here : remembered);
    const std::optional<DataFolder> folder = chosen ? enter(*chosen) : std::nullopt;
    if (!folder)
        return {};
    profile.set_string("folder", folder->shown());
    profile.save();
    return *folder;
}

bool change_data_folder(bool running, DataFolder& folder, Profile& profile, FolderChooser& chooser,
                        std::string& refusal)
{
    if (running) {
        refusal = "The data folder cannot be changed while the sieve is running: stop it first.";
        return false;
    }
    const std::optional<std::string> chosen = chooser.choose(folder.shown());
    if (!chosen || !data_folder_refusal(*chosen).empty())
        return false;
    const std::optional<DataFolder> entered = enter(*chosen);
    if (!entered)
        return false;
    folder = *entered;
    profile.set_string("folder", folder.shown());
    profile.save();
    return true;
}

std::string switch_data_folder(bool running, DataFolder& folder, const std::string& to, Profile& profile)
{
    const std::string here = folder.shown();
    if (to == here)
        return {};
    if (running)
        return "ZudSieve is sieving in '" + here + "': stop it there before changing to '" + to + "'.";
    std::string refusal = data_folder_refusal(to);
    const std::optional<DataFolder> entered = refusal.empty() ? enter(to) : std::nullopt;
    if (refusal.empty() && !entered)
        refusal = "'" + to + "' cannot be opened.";
    if (!refusal.empty())
        return refusal;
    folder = *entered;
    profile.set_string("folder", folder.shown());
    profile.save();
    return {};
}

std::string data_folder_refusal(const std::string& folder)
{
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return "'" + folder + "' is not a folder.";
    if (!folder_has_data(folder))
        return "The folder '" + folder + "' holds neither 'Zud.dat' nor 'ZudStatus.dat'. Choose the folder where "
               "the Zud team's 'Zud.dat' was put (or the file itself).";
    return {};
}

std::string FolderNamingBox::named(const std::string& text) const
{
    if (!names_a_data_file(text))
        return text;
    const std::string here = "the current directory";
    const std::size_t at = text.find(here);
    const std::string folder = folder_ ? folder_() : current_folder();
    if (at != std::string::npos) {
        std::string with_folder = text;
        with_folder.replace(at, here.size(), "the folder '" + folder + "'");
        return with_folder;
    }
    return text + "\r\n\r\n" + folder;
}

BoxAnswer FolderNamingBox::show(const std::string& text, BoxIcon icon, BoxButtons buttons, BoxAnswer default_answer)
{
    return inner_.show(named(text), icon, buttons, default_answer);
}

BoxAnswer FolderNamingBox::ask(BoxQuestion which, const std::string& text, BoxIcon icon, BoxButtons buttons,
                               BoxAnswer default_answer)
{
    return inner_.ask(which, named(text), icon, buttons, default_answer);
}

BoxAnswer AnswerHandedOver::show(const std::string& text, BoxIcon icon, BoxButtons buttons, BoxAnswer default_answer)
{
    return inner_.show(text, icon, buttons, default_answer);
}

BoxAnswer AnswerHandedOver::ask(BoxQuestion which, const std::string& text, BoxIcon icon, BoxButtons buttons,
                                BoxAnswer default_answer)
{
    if (active_ && which == BoxQuestion::results_handed_over) {
        active_ = false;
        if (note_)
            note_(text);
        return BoxAnswer::yes;
    }
    return inner_.ask(which, text, icon, buttons, default_answer);
}

bool PresetRange::run(std::int64_t& pmin, std::int64_t& pmax)
{
    if (!pending_)
        return inner_.run(pmin, pmax);
    pending_ = false;
    pmin = pmin_;
    pmax = pmax_;
    return true;
}

}  // namespace zud
