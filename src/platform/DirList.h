// Directory listing: the corpus files directly inside a folder.
//
// The corpus scan takes every entry whose name ends in ".txt", compared
// without regard to the case of ASCII letters, so "A.TXT" and ".txt" count.
// Nothing is filtered by kind: hidden (dot) files are listed, and so is a
// sub-folder named like "notes.txt" (opening it as a file fails later, which
// ends the search). The names come back in ascending byte order, so one
// folder always gives the same report.
//
//   for (const std::string& name : tallyfold::ListTextFiles("/home/me/corpus"))
//     Scan("/home/me/corpus/" + name);
//
// ListTextFilesRecursive does the same for the sub-folders at any depth and
// gives paths relative to the folder ("a.txt", "sub/deeper/b.txt"), sorted
// in ascending byte order of those paths, so "a.txt" < "a/z.txt" <
// "b/a.txt" ('.' is below '/'). Only real sub-folders are entered: a link
// to a folder is skipped, whatever its name, so a loop of links cannot
// hold the listing up, and a real sub-folder named like "notes.txt" is
// entered rather than listed. Every other entry is taken as in
// ListTextFiles, links to files included.
//
//   for (const std::string& relative : tallyfold::ListTextFilesRecursive(root))
//     Scan(root + "/" + relative);
//
// A folder that does not exist (or a path that is not a folder) holds no
// entries and is not an error. A folder that exists but cannot be read
// raises tallyfold::Exception "Cannot open folder "<folder>". <reason>";
// in the recursive listing that holds for every sub-folder, named by its
// full path (folder + "/" + relative path).
#pragma once

#include <string>
#include <vector>

namespace tallyfold {

// True when `name` ends in ".txt", ASCII letters compared in either case.
bool IsTextFileName(const std::string& name);

// The names (not paths) of the entries of `folder` that IsTextFileName
// accepts, in ascending byte order. `folder` is a native byte path.
std::vector<std::string> ListTextFiles(const std::string& folder);

// The paths, relative to `folder` and joined with "/", of the entries that
// IsTextFileName accepts in `folder` and in its real sub-folders at any
// depth, in ascending byte order of those paths.
std::vector<std::string> ListTextFilesRecursive(const std::string& folder);

}  // namespace tallyfold
