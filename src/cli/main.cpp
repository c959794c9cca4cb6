// corvane-cli: the headless front end.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/Commands.h"

namespace {

const char* const kUsage =
    "usage: corvane-cli devices [--device DIR] [--wait SECONDS]\n"
    "       corvane-cli music list [--device DIR] [--json]\n"
    "       corvane-cli music export --to DIR [--scheme 0-7 | --name-template TEMPLATE]\n"
    "                          [--playlist NAME] [--kind KIND] [--restore mpd|tags] [--m3u]\n"
    "                          [--covers] [--embed-covers]\n"
    "                          [--device DIR]\n"
    "       corvane-cli photos list [--device DIR] [--json]\n"
    "       corvane-cli photos previews --to DIR [--device DIR]\n"
    "       corvane-cli photos export --to DIR [--flat | --by-date] [--camera-roll]\n"
    "                          [--heic-to-jpeg] [--no-live-video]\n"
    "                          [--edited as-edited|originals|both] [--device DIR]\n"
    "\n"
    "  devices      show the attached iPod, iPhone, iPod touch or iPad\n"
    "  music list   load the device's music library and print its tracks and playlists\n"
    "               (--json: one JSON object)\n"
    "  music export copy the tracks (all, or those of --playlist and/or --kind: music, movie,\n"
    "               book, tone, voice_memo) into DIR named by --scheme (default 1); --m3u\n"
    "               writes the playlists as .m3u8; --restore mpd adds the copies, their\n"
    "               ratings, play counts and playlists to the MPD server's library (the\n"
    "               copies must lie below its music directory), --restore tags writes\n"
    "               ratings and play counts into the copies' own tags; --covers writes\n"
    "               the album art as cover.jpg into each album folder (--scheme 0),\n"
    "               --embed-covers puts it into the copies that carry none\n"
    "               --name-template names the copies by a template instead of a scheme:\n"
    "               %artist%, %album%, %albumartist%, %title%, %track% (two digits), %disc%,\n"
    "               %year%, %genre%, %% for a % sign, \"/\" between folders, e.g.\n"
    "               --name-template '%artist%/%album%/%track% %title%'; missing numbers are\n"
    "               left out, missing names read \"Unknown Artist\" and the like, and unsafe\n"
    "               characters become \"_\"\n"
    "  photos list  load the device's photo library and camera roll and print them\n"
    "  photos previews\n"
    "               make every preview the program shows and write each as a PNG below\n"
    "               DIR/library and DIR/camera_roll\n"
    "  photos export\n"
    "               write every photo of the library into DIR (a folder per album unless\n"
    "               --flat; --by-date: folders YYYY/YYYY-MM by date taken); --camera-roll\n"
    "               also copies the camera roll into DIR/Camera_Roll (or the date folders);\n"
    "               --heic-to-jpeg writes HEIC pictures as JPEG; Live Photos get their .MOV\n"
    "               beside them unless --no-live-video; --edited chooses what of an edited\n"
    "               photo is written (default both: the original and \"NAME (edited).EXT\")\n"
    "  Ctrl-C during an export stops it after the item being copied.\n"
    "\n"
    "  --device DIR   use DIR as the device: a folder holding iPod_Control is a disk-mode\n"
    "                 iPod; one holding iTunes_Control, DCIM or PhotoData is served as a\n"
    "                 mobile device (default: $CORVANE_DEVICE, else the real devices)\n"
    "  --wait S       seconds to wait for a device to attach (default 3)\n";

}  // namespace

int main(int argc, char** argv) {
    using namespace corvane::cli;
    // The mobile-device library writes to sockets of a phone that may be unplugged at any
    // moment; the write must fail, not end the program.
    std::signal(SIGPIPE, SIG_IGN);
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        std::fputs(kUsage, argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    std::string command = argv[1];
    TArgs args(argc, argv, 2);
    if (command == "devices") {
        auto unknown = args.Unknown({"--device", "--wait"}, {});
        if (!unknown.empty()) {
            std::fprintf(stderr, "corvane-cli: unknown option %s\n%s", unknown[0].c_str(), kUsage);
            return 2;
        }
        return RunDevices(args);
    }
    if (command == "music" && argc >= 3 && std::string(argv[2]) == "list") {
        TArgs listArgs(argc, argv, 3);
        auto unknown = listArgs.Unknown({"--device", "--wait"}, {"--json"});
        if (!unknown.empty()) {
            std::fprintf(stderr, "corvane-cli: unknown option %s\n%s", unknown[0].c_str(), kUsage);
            return 2;
        }
        return RunMusicList(listArgs);
    }
    if (command == "music" && argc >= 3 && std::string(argv[2]) == "export") {
        TArgs exportArgs(argc, argv, 3);
        auto unknown = exportArgs.Unknown({"--device", "--wait", "--to", "--scheme",
                                           "--name-template", "--playlist", "--kind", "--restore"},
                                          {"--m3u", "--covers", "--embed-covers"});
        if (!unknown.empty()) {
            std::fprintf(stderr, "corvane-cli: unknown option %s\n%s", unknown[0].c_str(), kUsage);
            return 2;
        }
        return RunMusicExport(exportArgs);
    }
    if (command == "photos" && argc >= 3 && std::string(argv[2]) == "export") {
        TArgs exportArgs(argc, argv, 3);
        auto unknown = exportArgs.Unknown(
            {"--device", "--wait", "--to", "--edited"},
            {"--flat", "--camera-roll", "--by-date", "--heic-to-jpeg", "--no-live-video"});
        if (!unknown.empty()) {
            std::fprintf(stderr, "corvane-cli: unknown option %s\n%s", unknown[0].c_str(), kUsage);
            return 2;
        }
        return RunPhotosExport(exportArgs);
    }
    if (command == "photos" && argc >= 3 &&
        (std::string(argv[2]) == "list" || std::string(argv[2]) == "previews")) {
        const bool list = std::string(argv[2]) == "list";
        TArgs photoArgs(argc, argv, 3);
        auto unknown = list ? photoArgs.Unknown({"--device", "--wait"}, {"--json"})
                            : photoArgs.Unknown({"--device", "--wait", "--to"}, {});
        if (!unknown.empty()) {
            std::fprintf(stderr, "corvane-cli: unknown option %s\n%s", unknown[0].c_str(), kUsage);
            return 2;
        }
        return list ? RunPhotosList(photoArgs) : RunPhotosPreviews(photoArgs);
    }
    std::fprintf(stderr, "corvane-cli: unknown command %s\n%s", command.c_str(), kUsage);
    return 2;
}
