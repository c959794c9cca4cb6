/* The reference side of bench/music_vs_reference.py, built by that script against libgpod and
 * nothing else of ours.
 *
 *   itdb_reference write MOUNTPOINT TRACKS PLAYLISTS ENTRIES
 *       writes MOUNTPOINT/iPod_Control/iTunes/iTunesDB with libgpod's own writer: TRACKS tracks,
 *       the master playlist and PLAYLISTS more of ENTRIES entries each (every tenth smart).
 *   itdb_reference dump MOUNTPOINT
 *       parses the database with itdb_parse and prints the fields `corvane-cli music list
 *       --json` prints, as one JSON object, so both sides do the same job end to end.
 */
#include <gpod/itdb.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static const char* const kGenres[] = {"Rock", "Jazz", "Classical", "Electronic", "Folk"};

static int WriteLibrary(const char* mountpoint, long tracks, long playlists, long entries) {
    Itdb_iTunesDB* itdb = itdb_new();
    itdb_set_mountpoint(itdb, mountpoint);
    Itdb_Playlist* master = itdb_playlist_new("iPod", FALSE);
    itdb_playlist_set_mpl(master);
    itdb_playlist_add(itdb, master, -1);

    /* Lists are filled back to front: libgpod appends by walking its list, which would make
     * building a large library quadratic. */
    Itdb_Track** all = calloc((size_t)tracks, sizeof *all);
    char text[256];
    for (long i = 0; i < tracks; ++i) {
        Itdb_Track* track = itdb_track_new();
        snprintf(text, sizeof text, "Track title number %ld", i);
        track->title = g_strdup(text);
        snprintf(text, sizeof text, "Artist %ld", i / 60);
        track->artist = g_strdup(text);
        snprintf(text, sizeof text, "Album %ld", i / 12);
        track->album = g_strdup(text);
        track->genre = g_strdup(kGenres[i % 5]);
        snprintf(text, sizeof text, "Composer %ld", i / 30);
        track->composer = g_strdup(text);
        snprintf(text, sizeof text, "Ripped from disc %ld, track %ld", i / 12, i % 12 + 1);
        track->comment = g_strdup(text);
        int video = i % 20 == 0;
        snprintf(text, sizeof text, ":iPod_Control:Music:F%02ld:TRK%ld.%s", i % 50, i,
                 video ? "m4v" : "mp3");
        track->ipod_path = g_strdup(text);
        track->filetype = g_strdup(video ? "MPEG-4 video file" : "MPEG audio file");
        track->mediatype = video ? ITDB_MEDIATYPE_MOVIE : ITDB_MEDIATYPE_AUDIO;
        track->size = (guint32)(3000000 + (i * 7919) % 6000000);
        track->tracklen = (gint32)(150000 + (i * 104729) % 200000);
        track->rating = (guint32)((i % 6) * 20);
        track->playcount = (guint32)(i % 97);
        track->track_nr = (gint32)(i % 12 + 1);
        track->bitrate = 256;
        track->samplerate = 44100;
        track->transferred = TRUE;
        all[i] = track;
    }
    for (long i = tracks - 1; i >= 0; --i) {
        itdb_track_add(itdb, all[i], 0);
        itdb_playlist_add_track(master, all[i], 0);
    }
    for (long p = 1; p <= playlists; ++p) {
        snprintf(text, sizeof text, "Playlist %ld", p);
        /* Smart playlists keep their members here; libgpod writes both. */
        Itdb_Playlist* playlist = itdb_playlist_new(text, p % 10 == 0);
        itdb_playlist_add(itdb, playlist, -1);
        for (long k = entries - 1; k >= 0 && tracks > 0; --k)
            itdb_playlist_add_track(playlist, all[(p * 131 + k * 389) % tracks], 0);
    }
    free(all);

    snprintf(text, sizeof text, "%s/iPod_Control/iTunes/iTunesDB", mountpoint);
    GError* error = NULL;
    if (!itdb_write_file(itdb, text, &error)) {
        fprintf(stderr, "itdb_write_file: %s\n", error ? error->message : "failed");
        return 1;
    }
    itdb_free(itdb);
    return 0;
}

/* JSON output through one large stdio buffer. */
static void PutString(const char* text) {
    putchar_unlocked('"');
    for (const unsigned char* c = (const unsigned char*)(text ? text : ""); *c; ++c) {
        if (*c == '"' || *c == '\\') {
            putchar_unlocked('\\');
            putchar_unlocked(*c);
        } else if (*c < 0x20) {
            printf("\\u%04x", *c);
        } else {
            putchar_unlocked(*c);
        }
    }
    putchar_unlocked('"');
}

static void PutKeyString(const char* key, const char* value) {
    printf("\"%s\":", key);
    PutString(value);
}

/* Seconds since 1970 in UTC as ISO 8601, or null for never. */
static void PutTime(time_t seconds) {
    struct tm utc;
    char text[32];
    if (seconds == 0 || gmtime_r(&seconds, &utc) == NULL ||
        strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc) == 0) {
        fputs("null", stdout);
        return;
    }
    PutString(text);
}

static void FormatSize(double bytes, char* text, size_t size) {
    if (bytes < 1048576)
        snprintf(text, size, "%.2f KB", bytes / 1024.0);
    else if (bytes <= 1073741824)
        snprintf(text, size, "%.2f MB", bytes / 1048576.0);
    else
        snprintf(text, size, "%.2f GB", bytes / 1073741824.0);
}

static void FormatDuration(guint32 ms, char* text, size_t size) {
    guint32 s = ms / 1000, m = s / 60;
    if (m <= 59)
        snprintf(text, size, "%u:%.2u", m, s % 60);
    else
        snprintf(text, size, "%u:%.2u:%.2u", m / 60, m % 60, s % 60);
}

static int DumpLibrary(const char* mountpoint) {
    GError* error = NULL;
    Itdb_iTunesDB* itdb = itdb_parse(mountpoint, &error);
    if (itdb == NULL) {
        fprintf(stderr, "itdb_parse: %s\n", error ? error->message : "failed");
        return 1;
    }
    static char buffer[1 << 20];
    setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    Itdb_Playlist* master = itdb_playlist_mpl(itdb);
    printf("{\"device\":{");
    PutKeyString("name", master ? master->name : "iPod");
    printf(",\"ios\":false},\"loaded\":true,\"tracks\":[");
    long index = 0;
    long long total = 0;
    char sizeText[32], durationText[32];
    for (GList* node = itdb->tracks; node; node = node->next, ++index) {
        const Itdb_Track* track = node->data;
        const char* ext = track->ipod_path ? strrchr(track->ipod_path, '.') : NULL;
        int movie = ext && (strcasecmp(ext, ".m4v") == 0 || strcasecmp(ext, ".mp4") == 0 ||
                            strcasecmp(ext, ".mov") == 0);
        FormatSize((double)track->size, sizeText, sizeof sizeText);
        FormatDuration((guint32)track->tracklen, durationText, sizeof durationText);
        total += track->size;
        printf("%s{\"index\":%ld,\"pid\":%u,", index ? "," : "", index, track->id);
        PutKeyString("title", track->title);
        putchar_unlocked(',');
        PutKeyString("artist", track->artist);
        putchar_unlocked(',');
        PutKeyString("album", track->album);
        putchar_unlocked(',');
        PutKeyString("genre", track->genre);
        putchar_unlocked(',');
        PutKeyString("location", track->ipod_path);
        printf(",\"kind\":\"%s\",\"size\":%u,", movie ? "movie" : "music", track->size);
        PutKeyString("size_text", sizeText);
        printf(",\"duration_ms\":%d,", track->tracklen);
        PutKeyString("duration_text", durationText);
        printf(",\"rating\":%u,\"play_count\":%u,\"skip_count\":%u,\"last_played\":",
               track->rating, track->playcount, track->skipcount);
        PutTime(track->time_played);
        printf(",\"checked\":true,\"has_artwork\":%s}",
               itdb_track_has_thumbnails((Itdb_Track*)track) ? "true" : "false");
    }
    printf("],\"playlists\":[");
    index = 0;
    for (GList* node = itdb->playlists; node; node = node->next, ++index) {
        const Itdb_Playlist* playlist = node->data;
        printf("%s{\"index\":%ld,\"pid\":0,", index ? "," : "", index);
        PutKeyString("name", playlist->name);
        printf(",\"smart\":%s,\"voice_memos\":false,\"on_the_go\":false,\"track_pids\":[",
               playlist->is_spl ? "true" : "false");
        int first = 1;
        for (GList* member = playlist->members; member; member = member->next) {
            printf(first ? "%u" : ",%u", ((const Itdb_Track*)member->data)->id);
            first = 0;
        }
        printf("]}");
    }
    printf("],\"total_size\":%lld,\"checked_count\":%ld,\"checked_size\":%lld,\"log\":\"\"}\n",
           total, (long)g_list_length(itdb->tracks), total);
    fflush(stdout);
    itdb_free(itdb);
    return 0;
}

int main(int argc, char** argv) {
    if (argc == 6 && strcmp(argv[1], "write") == 0)
        return WriteLibrary(argv[2], atol(argv[3]), atol(argv[4]), atol(argv[5]));
    if (argc == 3 && strcmp(argv[1], "dump") == 0)
        return DumpLibrary(argv[2]);
    fprintf(stderr,
            "usage: itdb_reference write MOUNTPOINT TRACKS PLAYLISTS ENTRIES\n"
            "       itdb_reference dump MOUNTPOINT\n");
    return 2;
}
