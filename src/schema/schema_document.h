// The schema description document: the XML file copy of a scan, written from the SchemaModel
// and kept beside the run for whoever wants to look at what was scanned. The program itself
// works from the model and does not read the document back.
#pragma once

#include <cstdint>
#include <pugixml.hpp>
#include <string>

#include "schema/schema_model.h"

namespace ferrolyte {

// Appends an "Attributes" element: the word as signed decimal text and a "BitN"="1" attribute
// for each set bit N (1-based), in ascending order.
pugi::xml_node AppendAttributesElement(pugi::xml_node parent, uint32_t word);
// Appends a child element holding the text.
pugi::xml_node AppendTextElement(pugi::xml_node parent, const char* name, const std::string& text);
// A boolean column's default as the document writes it: "1", "0", "" or "NULL".
std::string NormaliseBooleanDefault(const std::string& engine_text);
// Fills the empty document with the model: every table, relationship, query (with the SQL
// its rows make) and link, in the model's order. Raises a name's error held by the model.
void WriteSchemaDocument(const SchemaModel& model, pugi::xml_document& document);
// The document serialised on one line without XML declaration.
std::string SchemaXmlText(const pugi::xml_document& document);
// Where the file copy goes: "access.xml" in the given folder, a PrivateFolder of the run.
std::string SchemaFilePath(const std::string& folder);
// Writes the file copy (UTF-8, one line, mode 0600) into the folder, replacing a copy of an
// earlier scan; never follows a symbolic link. Raises the platform's file error on failure.
void SaveSchemaFile(const SchemaModel& model, const std::string& folder);

}  // namespace ferrolyte
