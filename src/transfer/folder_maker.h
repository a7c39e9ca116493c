// Creating missing target folders with their missing parents, each with the
// attributes of the source folder it stands for.
#pragma once

// Makes the folder that holds targetPath (the text before its last
// separator); sourcePath may be null. Non-zero when the folder now exists
// (or, in a trial run, would).
int makeTargetFolder(const char* sourcePath, const char* targetPath, const char* sourceArgument);
// Counts one request, then creates the folder.
int createFolder(const char* sourceFolder, const char* folder);
// 1 when the folder was created (or would be, in a trial run), else 0.
int createFolderPath(const char* sourceFolder, const char* folder);
void trimFolderName(char* text);
