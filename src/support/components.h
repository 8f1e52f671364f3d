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

// The class names this process can create. Filled with the built-in components on first use;
// tests remove a registration to simulate a missing component.
class ComponentRegistry {
 public:
  // The process-wide registry (the platform's object registry is process-wide too).
  static ComponentRegistry& Instance();

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
  ComponentRegistry();
  std::map<std::string, ComponentFactory> factories_;
};

// Registers the platform layer's components (engine, connections, XML document ...).
// Defined by the platform layer.
void RegisterPlatformComponents(ComponentRegistry& registry);

// Creates a component by class name, turning a failure into a readable error:
// 429 "Error creating object: NAME", any other number with its number and description added.
std::shared_ptr<Component> CreateObjectEx(const std::string& class_name);

// CreateObjectEx followed by a cast to the expected interface (error 13 when it is another).
template <class T>
std::shared_ptr<T> CreateObjectAs(const std::string& class_name);

}  // namespace ferrolyte

#include "support/errors.h"

namespace ferrolyte {
template <class T>
std::shared_ptr<T> CreateObjectAs(const std::string& class_name) {
  auto object = std::dynamic_pointer_cast<T>(CreateObjectEx(class_name));
  if (!object) throw Error(13, "Type mismatch");
  return object;
}
}  // namespace ferrolyte
