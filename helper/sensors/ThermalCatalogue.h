#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

// Sensor name -> degrees Celsius, rebuilt on every reading. Keys are the exact
// text the platform gave: no trimming, no case folding. Order carries no meaning.
using ThermalCatalogue = std::map<std::string, float, std::less<>>;

// What became of a service offered to the catalogue.
enum class Admission { Stored, NoName, NoReading, OutOfRange };

// Admits one temperature service that a platform walk found. It enters only with
// a name and a reading that the line shows as 0.1 to 149.9 (narrowed first,
// then tested); a later in-range reading replaces an earlier one of the same
// name, and an out-of-range reading removes nothing.
Admission catalogueOffer(ThermalCatalogue& catalogue, std::optional<std::string_view> name,
                         std::optional<double> reading);
