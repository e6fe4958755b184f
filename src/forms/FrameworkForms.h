// Connects the data engine to the framework's forms: the engine's hooks
// (the filter dialog of a data source, ...) are set to open them. A program
// calls it once at start, after its application object exists.
#pragma once

void InstallFrameworkForms();
