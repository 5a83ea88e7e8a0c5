// Readable one-line messages of faults and events.
//
// A data or fault type may carry a message template, a line of text in which
// `{name}` stands for the value of one of the type's properties (own or
// inherited) and `{a.b}` for property b of the data object held in a;
// `{{` and `}}` are literal braces. The generated module loaders hand their
// templates to the runtime with the types.
//
// An object renders with the template of its type or of its nearest ancestor
// that has one; without one it renders as its type's short name followed by
// its set properties, empty texts left out ("NotFound: file=\"disk-0.img\",
// datastore=...").
// Rendering never throws for any value an object can hold: an unset argument
// shows as "<name unset>", a path the type does not have as
// "<name unknown>", a secret-flagged value as "<secret>", an enumeration
// value outside its enumeration as "<enum value 42>". Only an allocation
// failure propagates.
#pragma once

#include <string>
#include <string_view>

#include "movel/export.h"
#include "movel/records.h"

namespace Movel {

class DataObject;
class Type;

// One entry of a module's template table.
struct MessageTemplate {
  const TypeInfo* type;
  const char* text;
};

// Makes the templates of table known (the table must live as long as the
// process). A later entry for the same type replaces the earlier one; an
// entry with a null text removes the type's template. Called by the
// generated module loaders; null or count <= 0 registers nothing.
MOVEL_API void RegisterMessageTemplates(const MessageTemplate* table, int count);

// The template registered for exactly this type, or null.
MOVEL_API const char* GetMessageTemplate(const Type* type);
// The template of type or of its nearest ancestor that has one, or null.
// When owner is given it receives the type whose template was found.
MOVEL_API const char* FindMessageTemplate(const Type* type, const Type** owner = nullptr);

// The one-line message of a data object (fault, event or any other): its
// template when it has one, else the default rendering. A null object gives
// "null". A fault's cause, when set, follows as " (caused by: ...)".
MOVEL_API std::string RenderMessage(const DataObject* object);
// object rendered with the given template instead of its own.
MOVEL_API std::string RenderTemplate(const DataObject* object, std::string_view text);
// The default rendering, whatever templates exist.
MOVEL_API std::string RenderDefault(const DataObject* object);

// Fills an event's formatted message: renders object (leaving the property
// itself out of the rendering) and stores the line in its optional string
// property of that name. False, with nothing changed, when the object has no
// such string property.
MOVEL_API bool FillFormattedMessage(DataObject* object,
                                    std::string_view property = "fullFormattedMessage");

}  // namespace Movel
