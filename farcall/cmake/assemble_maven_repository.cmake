cmake_minimum_required(VERSION 3.25)
# Lays out GROUP:ARTIFACT:VERSION in a Maven repository at REPOSITORY, as
# Maven's deploy would: the jar, its POM, a -sources jar of SOURCES (paths
# relative to SOURCE_ROOT), a -javadoc jar of the API documentation in
# APIDOC, the artifact's maven-metadata.xml, and beside each file the .md5
# and .sha1 that Maven 3.8 writes and checks. The artifact's earlier
# contents go: the repository holds this build only.
#   cmake -DJAR_TOOL=<jar> -DJAR=<farcall.jar> -DPOM=<file> -DSOURCE_ROOT=<dir>
#         -DSOURCES=<paths> -DAPIDOC=<dir> -DGROUP=<g> -DARTIFACT=<a> -DVERSION=<v>
#         -DREPOSITORY=<dir> -P assemble_maven_repository.cmake
string(REPLACE "." "/" group_path "${GROUP}")
set(artifact_dir ${REPOSITORY}/${group_path}/${ARTIFACT})
set(version_dir ${artifact_dir}/${VERSION})
set(base ${version_dir}/${ARTIFACT}-${VERSION})

file(REMOVE_RECURSE ${artifact_dir})
file(MAKE_DIRECTORY ${version_dir})
file(COPY_FILE ${JAR} ${base}.jar)
file(COPY_FILE ${POM} ${base}.pom)
execute_process(COMMAND ${JAR_TOOL} --create --file ${base}-sources.jar -C ${SOURCE_ROOT} ${SOURCES}
  COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${JAR_TOOL} --create --file ${base}-javadoc.jar -C ${APIDOC} .
  COMMAND_ERROR_IS_FATAL ANY)

# lastUpdated follows SOURCE_DATE_EPOCH when that is set.
string(TIMESTAMP updated "%Y%m%d%H%M%S" UTC)
file(WRITE ${artifact_dir}/maven-metadata.xml "<?xml version=\"1.0\" encoding=\"UTF-8\"?>
<metadata>
  <groupId>${GROUP}</groupId>
  <artifactId>${ARTIFACT}</artifactId>
  <versioning>
    <latest>${VERSION}</latest>
    <release>${VERSION}</release>
    <versions>
      <version>${VERSION}</version>
    </versions>
    <lastUpdated>${updated}</lastUpdated>
  </versioning>
</metadata>
")

# The digest alone, in lower-case hex, as Maven writes it.
foreach(file ${base}.jar ${base}.pom ${base}-sources.jar ${base}-javadoc.jar ${artifact_dir}/maven-metadata.xml)
  foreach(algorithm MD5 SHA1)
    file(${algorithm} ${file} digest)
    string(TOLOWER ${algorithm} extension)
    file(WRITE ${file}.${extension} "${digest}")
  endforeach()
endforeach()
