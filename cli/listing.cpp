#include "cli/listing.h"

#include "cli/output.h"
#include "cli/reporter.h"
#include "res/cli_strings.h"

namespace {

// Control characters of a field's text would act on a terminal: they are shown as blanks.
std::string Printable(std::string text) {
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    }
    return text;
}

std::string ChunkName(const MetadataChunk& chunk) {
    // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on "x" + string.
    std::string name = "\"";
    name.append(FourccText(chunk.ckid)).append("\"");
    if (chunk.fccType != 0) name.append(" ").append(FourccText(chunk.fccType));
    return name;
}

std::string FieldName(const MetadataField& field) {
    return field.word == Text::Count ? FourccText(field.ckid) : PlainText(field.word);
}

void PrintText(const std::string& source, const std::string& description, const SourceMetadata& metadata) {
    PrintLine(source + ": " + description);
    for (const MetadataChunk& chunk : metadata.chunks) {
        std::string line = Said<CliText::ChunkLine>(Printable(ChunkName(chunk)).c_str(),
                                     static_cast<unsigned long long>(chunk.cbSource));
        if (!chunk.fCarried) {
            const bool tooLarge = chunk.cbSource > kMaxMetadataChunkBytes;
            line += std::string(", ") + PlainText(tooLarge ? Text::MetadataNotCarried : Text::MetadataNotCarriedTotal);
        }
        PrintLine(line);
        for (const MetadataField& field : MetadataFields(chunk)) {
            PrintLine("    " + Printable(FieldName(field)) + ": " + Printable(field.value));
        }
    }
}

std::string ChunkJson(const MetadataChunk& chunk) {
    std::string json = "{\"id\":" + JsonString(FourccText(chunk.ckid));
    if (chunk.fccType != 0) json += ",\"type\":" + JsonString(FourccText(chunk.fccType));
    json += ",\"size\":" + std::to_string(chunk.cbSource) + ",\"carried\":" + (chunk.fCarried ? "true" : "false");
    std::string fields;
    for (const MetadataField& field : MetadataFields(chunk)) {
        fields += fields.empty() ? "" : ",";
        fields += "{\"name\":" + JsonString(FieldName(field));
        if (field.ckid != 0) fields += ",\"id\":" + JsonString(FourccText(field.ckid));
        fields += ",\"value\":" + JsonString(field.value) + "}";
    }
    return json + ",\"fields\":[" + fields + "]}";
}

}  // namespace

void DescriptionReporter::Say(const std::string& text) {
    if (json_) {
        reasons_.push_back(text);
    } else {
        CliReporter::Say(text);
    }
}

void DescriptionReporter::Detail(const std::string& text) { Say(text); }

void PrintDescription(const std::string& source, const std::string& description, const SourceMetadata& metadata,
                      bool json) {
    if (!json) {
        PrintText(source, description, metadata);
        return;
    }
    std::string chunks;
    for (const MetadataChunk& chunk : metadata.chunks) {
        if (!chunks.empty()) chunks += ',';
        chunks += ChunkJson(chunk);
    }
    PrintLine("{\"source\":" + JsonString(source) + ",\"outcome\":\"described\",\"description\":" +
              JsonString(description) + ",\"metadata\":[" + chunks + "]}");
}

void PrintFailure(const std::string& source, const std::vector<std::string>& reasons) {
    std::string message;
    for (const std::string& text : reasons) message += (message.empty() ? "" : "; ") + text;
    PrintLine("{\"source\":" + JsonString(source) + ",\"outcome\":\"failed\",\"message\":" + JsonString(message) + "}");
}
