// duoramic-cli convert: many items rendered into one folder, each by a
// worker process of its own (a crash spoils one item, not the batch),
// several at a time.
#pragma once

#include <string>
#include <vector>

extern const char kConvertUsage[];

// One rendering to do: the arguments of a `render` run and what to report.
struct ConvertJob {
  std::string label;                   // the item as the report names it
  std::vector<std::string> renderArgs;  // after the word "render"
};

// The jobs for the given inputs: a folder gives its pictures (sorted), a
// slideshow list its entries, anything else is one item.  Files that pair by
// name (scene_L.jpg and scene_R.jpg, in one folder or both given) are one
// item, and so are two one-view files given as the only inputs; the job
// names the left file, then the right one.  Outputs are
// OUTDIR/NAME.png (or NAME`extension`: ".mpo", ".jps" and ".pns" write
// stereo files, for which lists are unusable) from the item's name without its extension, made unique
// within the batch; a name under which an input is found (the same file by
// device and inode: another spelling of its path, a link to it, a file a
// list shows) is passed over for the next free "NAME-2", "NAME-3"...  Inputs that are neither (a missing file, a list
// without its "SlideShowList" line) go to `unusable` with the reason.
std::vector<ConvertJob> PlanConversion(
    const std::vector<std::string>& inputs, const std::string& outDir,
    const std::vector<std::string>& renderOptions,
    std::vector<std::string>& unusable,
    const std::string& extension = ".png");

// Runs `convert` with the arguments after the command name: 0 every item
// converted, 1 some failed (each named on stderr), 2 bad usage.
int RunConvertCommand(const std::vector<std::string>& args,
                      const std::string& selfPath);
