// Settings that come, key by key, from the first of several sources that holds the
// key: Group Policy, then the time service's parameters or the profile, then fixed
// defaults. The main window and the editor put policy over the profile; the service
// reads only what administrators write (policy, its parameters) over the defaults of
// the sample profile. One reader, ReadProfileSettings, serves them all.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "settings/settings.h"

// Where a setting's value came from.
enum class SettingOrigin { kPolicy, kParameters, kProfile, kDefault, kNone };

// "policy", "parameters", "profile", "default", "none": the status command's words.
const char* SettingOriginName(SettingOrigin origin);

// Fixed values by key; a key is held when it is in the map.
class MapSource : public ProfileSource {
  public:
    MapSource() = default;
    explicit MapSource(std::map<std::string, std::string> values) : m_values(std::move(values)) {}
    void Set(const char* key, const CString& value) {
        m_values[key] = std::string(value.GetString(), static_cast<std::size_t>(value.GetLength()));
    }
    CString Text(const char* key) const override;
    int Int(const char* key, int defaultValue) const override;
    bool Has(const char* key) const override { return m_values.count(key) != 0; }

  private:
    std::map<std::string, std::string> m_values;
};

// The first layer that holds a key gives its text and its number; a key that no layer
// holds is missing. Layers are not owned and must outlive the source.
class LayeredSource : public ProfileSource {
  public:
    struct Layer {
        const ProfileSource* source;
        SettingOrigin origin;
    };
    explicit LayeredSource(std::vector<Layer> layers) : m_layers(std::move(layers)) {}
    CString Text(const char* key) const override;
    int Int(const char* key, int defaultValue) const override;
    bool Has(const char* key) const override { return Origin(key) != SettingOrigin::kNone; }
    // The origin of the layer that gives the key; kNone when none holds it.
    SettingOrigin Origin(const char* key) const;

  private:
    const ProfileSource* Holder(const char* key) const;
    std::vector<Layer> m_layers;
};

// The keys that the time service reads, in the order the status command lists them.
extern const char* const kMachineKeys[10];

// The service's values where neither policy nor its parameters give one: the sample
// profile's server and protocol, its time-out, retries off, no daily time, history on,
// its fallback servers, samples and correction limit, and plain SNTP (nts off).
const MapSource& MachineDefaults();

// The service's settings: policy over the parameters over the defaults.
ProfileSettings ReadMachineSettings(const ProfileSource& policy, const ProfileSource& parameters);
