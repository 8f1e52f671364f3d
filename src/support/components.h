// Component creation by class name, standing in for the platform's object registry.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>

namespace ferrolyte {

// Base of every object that is created by class name.
class Component {
 public:
  virtual ~Component() = default;
};

using ComponentFactory = std::function<std::shared_ptr<Component>()>;

// Class names and what creates them. A program builds one and hands it to what creates
// components; tests remove a registration to simulate a missing component. Reading it from
// several threads is safe while nobody changes it.
class ComponentRegistry {
 public:
  // Holds the support layer's own class, "Quorvane.Dictionary".
  ComponentRegistry();

  // Registers or replaces the factory for a class name.
  void Register(const std::string& class_name, ComponentFactory factory);
  // Removes a class name; creating it then raises error 429.
  void Unregister(const std::string& class_name);
  // True when the class name can be created.
  bool IsRegistered(const std::string& class_name) const;
  // Creates an object; raises 429 "ActiveX component can't create object" when the class is
  // unknown, or whatever the factory raises.
  std::shared_ptr<Component> Create(const std::string& class_name) const;

 private:
  std::map<std::string, ComponentFactory> factories_;
};

// The support layer's own classes, never changed: what every dictionary is made by.
const ComponentRegistry& SupportComponents();

// Creates a component by class name, turning a failure into a readable error:
// 429 "Error creating object: NAME", any other number with its number and description added.
std::shared_ptr<Component> CreateObjectEx(const ComponentRegistry& registry,
                                          const std::string& class_name);

// CreateObjectEx followed by a cast to the expected interface (error 13 when it is another).
template <class T>
std::shared_ptr<T> CreateObjectAs(const ComponentRegistry& registry, const std::string& class_name);

}  // namespace ferrolyte

#include "support/errors.h"

namespace ferrolyte {
template <class T>
std::shared_ptr<T> CreateObjectAs(const ComponentRegistry& registry,
                                  const std::string& class_name) {
  auto object = std::dynamic_pointer_cast<T>(CreateObjectEx(registry, class_name));
  if (!object) throw Error(errc::kTypeMismatch, "Type mismatch");
  return object;
}
}  // namespace ferrolyte
