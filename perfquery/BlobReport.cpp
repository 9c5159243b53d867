#include "BlobReport.h"

#include <algorithm>
#include <cstdio>

namespace perfquery {
namespace {

std::string number(LONG value) { return std::to_string(value); }

std::string resultText(HRESULT result) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", unsigned(result));
  return text;
}

// "Invalid internal condition (0x80004005), reading at offset 98".
std::string problemText(const BlobProblem &problem) {
  return problem.description + " (" + resultText(problem.result) + "), reading at offset " + number(problem.readAt);
}

// ---- table ------------------------------------------------------------------

// ID=1, Name="Obj", Value=VT_I4:5, Value=VT_EMPTY.
std::string tableField(const BlobField &field) {
  std::string value;
  switch (field.kind) {
    case BlobField::Kind::Text: value = jsonString(field.text); break;
    case BlobField::Kind::Empty: value = field.type.empty() ? "(empty)" : ""; break;
    default: value = field.text; break;
  }
  if (!field.type.empty()) value = field.type + (value.empty() ? "" : ":" + value);
  return field.name + "=" + value;
}

void tableRecords(const BlobRecord &record, int depth, int width, std::string &out) {
  char columns[64];
  const std::string end = record.end < 0 ? "-" : number(record.end);
  std::snprintf(columns, sizeof columns, "%*s  %*s  ", width, number(record.offset).c_str(), width, end.c_str());
  std::string line = columns + std::string(size_t(depth) * 2, ' ') + record.record;
  if (record.problem) line += "  cannot be read: " + problemText(*record.problem);
  for (const BlobField &field : record.fields) line += "  " + tableField(field);
  out += line + "\n";
  for (const BlobRecord &child : record.children) tableRecords(child, depth + 1, width, out);
}

std::string outcome(const BlobInspection &inspection) {
  if (const BlobRecord *bad = inspection.damaged())
    return "damaged: the " + bad->record + " record at offset " + number(bad->offset) +
           " cannot be read: " + problemText(*bad->problem) + "\n";
  const LONG end = inspection.root.end;
  if (end == inspection.length) return "read whole, to the blob's end at " + number(end) + "\n";
  return "read whole; the record ends at " + number(end) + " and " + number(inspection.length - end) +
         " bytes after it are not read\n";
}

std::string table(const BlobInspection &inspection) {
  std::string out =
      std::string(blobClassName(inspection.blobClass)) + " blob" +
      (inspection.classGuessed ? " (the class that reads it best)" : "") + ", " + number(inspection.length) +
      " bytes, " +
      (inspection.length < 8 ? "shorter than its header"
                             : "token " + number(inspection.token) + ", cursor " + number(inspection.cursor));
  if (inspection.putStart != inspection.root.offset)
    out += " (MyBlob put would start reading at " + number(inspection.putStart) + ")";
  out += "\n";
  const int width = int(std::max<size_t>(number(inspection.length).size(), 6));
  char header[64];
  std::snprintf(header, sizeof header, "%*s  %*s  record\n", width, "offset", width, "end");
  out += header;
  tableRecords(inspection.root, 0, width, out);
  return out + outcome(inspection);
}

// ---- JSON -------------------------------------------------------------------

std::string jsonField(const BlobField &field) {
  std::string value;
  switch (field.kind) {
    case BlobField::Kind::Number:
    case BlobField::Kind::Boolean: value = field.text; break;
    case BlobField::Kind::Empty: value = "null"; break;
    default: value = jsonString(field.text); break;
  }
  std::string text = jsonString(field.name) + ": " + value;
  if (!field.type.empty()) text += ", " + jsonString(field.name + "Type") + ": " + jsonString(field.type);
  return text;
}

std::string jsonProblem(const BlobProblem &problem) {
  return "\"result\": " + jsonString(resultText(problem.result)) +
         ", \"description\": " + jsonString(problem.description) + ", \"readAt\": " + number(problem.readAt);
}

void jsonRecords(const BlobRecord &record, int depth, bool last, std::string &out) {
  const std::string indent(size_t(depth) + 1, ' ');
  out += indent + "{\"offset\": " + number(record.offset);
  if (record.end >= 0) out += ", \"end\": " + number(record.end);
  out += ", \"record\": " + jsonString(record.record);
  if (record.problem) out += ", \"error\": {" + jsonProblem(*record.problem) + "}";
  if (!record.fields.empty()) {
    out += ", \"fields\": {";
    for (size_t at = 0; at < record.fields.size(); ++at) out += (at ? ", " : "") + jsonField(record.fields[at]);
    out += "}";
  }
  const char *close = last ? "}" : "},";
  if (record.children.empty()) {
    out += std::string(close) + "\n";
    return;
  }
  out += ", \"children\": [\n";
  for (size_t at = 0; at < record.children.size(); ++at)
    jsonRecords(record.children[at], depth + 1, at + 1 == record.children.size(), out);
  out += indent + "]" + close + "\n";
}

std::string json(const BlobInspection &inspection) {
  std::string out = "{\"length\": " + number(inspection.length) + ", \"token\": " + number(inspection.token) +
                    ", \"cursor\": " + number(inspection.cursor) + ", \"putStart\": " + number(inspection.putStart) +
                    ", \"class\": " + jsonString(blobClassName(inspection.blobClass)) +
                    ", \"classGuessed\": " + (inspection.classGuessed ? "true" : "false") + ", \"root\":\n";
  jsonRecords(inspection.root, 0, true, out);
  out += ", \"error\": ";
  if (const BlobRecord *bad = inspection.damaged())
    out += "{\"offset\": " + number(bad->offset) + ", \"record\": " + jsonString(bad->record) + ", " +
           jsonProblem(*bad->problem) + "}";
  else
    out += "null";
  return out + "}\n";
}

}  // namespace

std::string blobReport(Format format, const BlobInspection &inspection) {
  return format == Format::Json ? json(inspection) : table(inspection);
}

}  // namespace perfquery
