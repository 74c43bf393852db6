#ifndef KORVO_CORE_TREE_FOLDER_NODE_FS_OSX_H_
#define KORVO_CORE_TREE_FOLDER_NODE_FS_OSX_H_

#include <string>
#include <string_view>
#include <unordered_map>

#include "core/export.h"
#include "core/tree/file_tree.h"

// A folder in which a lookup finds a child whatever Unicode normalization
// form the query and the stored name use, and in which two children whose
// names differ only by that form cannot coexist. Names are stored as given;
// children whose names are not in NFC are also indexed by their NFC form.
// Every folder created inside such a tree is again one of these.
class KORVO_EXPORT FolderNodeFS_OSX : public FolderNode {
 public:
  FolderNodeFS_OSX(uint64_t inode, uint64_t time, bool readonly, bool offline);
  ~FolderNodeFS_OSX() override;

  static UniqueNodePtr<FolderNode> MakeRoot();

  // The normalization-insensitive lookup with exact case.
  static bool FindFileNormInsensitive(FolderNode* folder, std::string_view name,
                                      ChildIter<FileNode>* it);
  static bool FindFolderNormInsensitive(FolderNode* folder, std::string_view name,
                                        ChildIter<FolderNode>* it);

  ResultInsert InsertFileTry(UniqueNodePtr<FileNode>&& node, ChildIter<FileNode>* where,
                             UniqueNodePtr<FileNode>* rejected) override;
  ResultInsert InsertFolderTry(UniqueNodePtr<FolderNode>&& node, ChildIter<FolderNode>* where,
                               UniqueNodePtr<FolderNode>* rejected) override;
  ResultInsert RenameFolderTry(ChildIter<FolderNode>* it, std::string&& new_name) override;
  ResultInsert RenameFileTry(ChildIter<FileNode>* it, std::string&& new_name) override;
  bool DeepCopyContentFrom(const FolderNode* other) override;
  void Clear() override;

  using FolderNode::FindFile;
  using FolderNode::FindFolder;
  using FolderNode::GetFile;
  using FolderNode::GetFolder;
  ChildIter<const FileNode> FindFile(std::string_view name, bool case_insensitive,
                                     bool* exact = nullptr) const override;
  ChildIter<const FolderNode> FindFolder(std::string_view name, bool case_insensitive,
                                         bool* exact = nullptr) const override;
  const FileNode* GetFile(std::string_view name, bool case_insensitive,
                          bool* exact = nullptr) const override;
  const FolderNode* GetFolder(std::string_view name, bool case_insensitive,
                              bool* exact = nullptr) const override;
  bool HasFile(std::string_view name, bool case_insensitive, bool* flag = nullptr) const override;
  bool HasFolder(std::string_view name, bool case_insensitive,
                 bool* flag = nullptr) const override;
  bool HasFileNamedLike(const ChildNode* node, bool case_insensitive,
                        bool* flag = nullptr) const override;
  bool HasFolderNamedLike(const ChildNode* node, bool case_insensitive,
                          bool* flag = nullptr) const override;
  FileNode* RemoveFile(ChildIter<FileNode>* it) override;

  // Both maps hold exactly the children whose names are not in NFC.
  bool ValidateNormKeys() const;

  // The plain folder behaviour.
  ResultInsert BaseInsertFileTry(UniqueNodePtr<FileNode>&& node, ChildIter<FileNode>* where,
                                 UniqueNodePtr<FileNode>* rejected);
  ResultInsert BaseInsertFolderTry(UniqueNodePtr<FolderNode>&& node,
                                   ChildIter<FolderNode>* where,
                                   UniqueNodePtr<FolderNode>* rejected);
  FileNode* BaseRemoveFile(ChildIter<FileNode>* it);
  FolderNode* BaseRemoveFolder(ChildIter<FolderNode>* it);
  ResultInsert BaseRenameFileTry(ChildIter<FileNode>* it, std::string&& new_name);
  ResultInsert BaseRenameFolderTry(ChildIter<FolderNode>* it, std::string&& new_name);

 protected:
  UniqueNodePtr<FolderNode> CreateInstance() const override;
  FolderNode* RemoveFolder(ChildIter<FolderNode>* it) override;

 private:
  template <class Node>
  friend struct OsxOps;

  bool MakeNormKeysForAllChildren();

  std::unordered_map<std::string, FileNode*> files_by_nfc_;
  std::unordered_map<std::string, FolderNode*> folders_by_nfc_;
};

#endif  // KORVO_CORE_TREE_FOLDER_NODE_FS_OSX_H_
