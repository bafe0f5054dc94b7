// What `wavtrn-cli info` prints for a file: its description, the metadata
// chunks it carries (identifier and size, and the fields of INFO lists and
// bext chunks in words), as text or as one JSON object a file.
#pragma once

#include "cli/reporter.h"
#include "wave/metadata.h"

#include <string>
#include <vector>

// The reporter of a description: with JSON it keeps the reasons for the
// file's object instead of printing them.
class DescriptionReporter final : public CliReporter {
public:
    DescriptionReporter(std::string source, bool verbose, bool json)
        : CliReporter(std::move(source), {}, verbose), json_(json) {}
    const std::vector<std::string>& reasons() const { return reasons_; }

protected:
    void Say(const std::string& text) override;
    void Detail(const std::string& text) override;

private:
    bool json_;
    std::vector<std::string> reasons_;
};

// Text: "SOURCE: description", then a line for each metadata chunk and an
// indented line for each of its fields. JSON: one object.
void PrintDescription(const std::string& source, const std::string& description, const SourceMetadata& metadata,
                      bool json);
// JSON only: the object of a file that could not be described.
void PrintFailure(const std::string& source, const std::vector<std::string>& reasons);
