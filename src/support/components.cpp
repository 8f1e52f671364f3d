#include "support/components.h"

#include "support/errors.h"
#include "support/value.h"

namespace ferrolyte {

ComponentRegistry::ComponentRegistry() {
  Register("Quorvane.Dictionary", [] { return std::make_shared<Dictionary>(); });
}

const ComponentRegistry& SupportComponents() {
  static const ComponentRegistry registry;
  return registry;
}

void ComponentRegistry::Register(const std::string& class_name, ComponentFactory factory) {
  factories_[class_name] = std::move(factory);
}

void ComponentRegistry::Unregister(const std::string& class_name) {
  factories_.erase(class_name);
}

bool ComponentRegistry::IsRegistered(const std::string& class_name) const {
  return factories_.count(class_name) != 0;
}

std::shared_ptr<Component> ComponentRegistry::Create(const std::string& class_name) const {
  auto it = factories_.find(class_name);
  if (it == factories_.end())
    throw Error(errc::kCannotCreateObject, "ActiveX component can't create object");
  return it->second();
}

std::shared_ptr<Component> CreateObjectEx(const ComponentRegistry& registry,
                                          const std::string& class_name) {
  try {
    return registry.Create(class_name);
  } catch (const Error& e) {
    if (e.Is(errc::kCannotCreateObject))
      throw Error(errc::kCannotCreateObject, e.source(), "Error creating object: " + class_name);
    throw Error(e.number(), e.source(),
                "Error creating object: " + class_name + ". Error " + std::to_string(e.number()) +
                    " (0x" + HexNumber(e.number()) + "): " + e.description());
  }
}

}  // namespace ferrolyte
