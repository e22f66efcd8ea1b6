// What the command line and the data folder change for a front end: the
// folder the program works in, and wrappers around the message box and the
// range dialog that answer what the command line has already answered.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "data/data_folder.h"
#include "data/file_io.h"
#include "engine/search/instruction_set.h"
#include "app/message_box.h"
#include "app/settings.h"
#include "app/window_view.h"

namespace zud {

// The options of one start, from the command line.
struct StartOptions {
    bool folder_given = false;   // a DIR argument: the program works there
    std::string folder;          // the DIR argument as given ("": the current folder)
    int workers = 0;             // 0: the profile's
    bool has_range = false;      // --range FROM TO
    std::int64_t pmin = 0;
    std::int64_t pmax = 0;
    bool yes = false;            // --yes
    int device = -1;             // --device N or ZUDSIEVE_DEVICE: the OpenCL device beside the workers
    bool device_alone = false;   // --workers 0: the device without processor workers
    double stop_seconds = 0;     // --stop-seconds S; 0: the profile's
    // Decided in main (ZUDSIEVE_ISA caps the processor's); the runs use it.
    InstructionSet instruction_set = processor_instruction_set();
};

// True when the folder holds "Zud.dat" or "ZudStatus.dat".
bool folder_has_data(const std::string& folder);

// Asks the user where the data is; nothing when cancelled.
class FolderChooser {
public:
    virtual ~FolderChooser() = default;
    virtual std::optional<std::string> choose(const std::string& start) = 0;
};

// With no DIR argument: stays in the folder it was started in when that
// holds the data, else goes to the folder remembered in the profile
// ("folder") when that does, else asks (when there is a chooser) and
// remembers the answer. Returns the folder the program then works in.
DataFolder settle_data_folder(Profile& profile, FolderChooser* chooser);

// Options > Data folder: asks for another folder than `folder` and makes
// it `folder` from now on, remembered in the profile. Refused while a run
// is going (`refusal` says why); false too when the chooser was cancelled.
bool change_data_folder(bool running, DataFolder& folder, Profile& profile, FolderChooser& chooser,
                        std::string& refusal);

// A second start of the program named `to` (its full path): `folder`
// becomes that from now on unless a run is going or it holds no data.
// Returns the word for the second start: empty when the window now works
// there.
std::string switch_data_folder(bool running, DataFolder& folder, const std::string& to, Profile& profile);

// Why a chosen folder cannot be the data folder; empty when it can.
std::string data_folder_refusal(const std::string& folder);

// Adds the data folder's full path (`folder`; empty: the current folder's),
// on a line of its own, to every message that names one of the data files,
// and names it in place of "the current directory": the files are opened
// in that folder, and "the current directory" means little to someone who
// started the program from a menu.
class FolderNamingBox : public MessageBox {
public:
    explicit FolderNamingBox(MessageBox& inner, std::function<std::string()> folder = {})
        : inner_(inner), folder_(std::move(folder))
    {
    }
    BoxAnswer show(const std::string& text, BoxIcon icon, BoxButtons buttons, BoxAnswer default_answer) override;
    BoxAnswer ask(BoxQuestion which, const std::string& text, BoxIcon icon, BoxButtons buttons,
                  BoxAnswer default_answer) override;

private:
    std::string named(const std::string& text) const;

    MessageBox& inner_;
    std::function<std::string()> folder_;
};

// --yes: the first completed-results question is answered Yes without
// asking; `note` (when set) is told the question that was answered.
class AnswerHandedOver : public MessageBox {
public:
    AnswerHandedOver(MessageBox& inner, bool active, std::function<void(const std::string&)> note = {})
        : inner_(inner), active_(active), note_(std::move(note))
    {
    }
    BoxAnswer show(const std::string& text, BoxIcon icon, BoxButtons buttons, BoxAnswer default_answer) override;
    BoxAnswer ask(BoxQuestion which, const std::string& text, BoxIcon icon, BoxButtons buttons,
                  BoxAnswer default_answer) override;

private:
    MessageBox& inner_;
    bool active_;
    std::function<void(const std::string&)> note_;
};

// --range: the first run that asks for a range gets the command line's,
// unasked; later ones ask the dialog.
class PresetRange : public RangeDialog {
public:
    PresetRange(RangeDialog& inner, const StartOptions& options)
        : inner_(inner), pending_(options.has_range), pmin_(options.pmin), pmax_(options.pmax)
    {
    }
    bool run(std::int64_t& pmin, std::int64_t& pmax) override;
    void set_estimate(Estimate estimate) override { inner_.set_estimate(std::move(estimate)); }

private:
    RangeDialog& inner_;
    bool pending_;
    std::int64_t pmin_;
    std::int64_t pmax_;
};

}  // namespace zud
