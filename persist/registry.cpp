#include "persist/archive.h"
#include "persist/containers.h"
#include "persist/document.h"
#include "persist/project_tree.h"

namespace kv {

void RegisterPersistClasses() {
  CObList::StaticClass();
  CObArray::StaticClass();
  CStringList::StaticClass();
  CStringArray::StaticClass();
  CDWordArray::StaticClass();
  CByteArray::StaticClass();
  CMapStringToString::StaticClass();
  CProjNode::StaticClass();
  CStgDoc::StaticClass();
}

}  // namespace kv
